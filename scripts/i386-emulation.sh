#!/usr/bin/env bash
# Lets 32-bit x86 programs (the 32-bit wine loader among them) run on a kernel that starts none
# itself (one built without IA-32 emulation, or booted with it off): qemu's user-mode emulator is
# registered with binfmt_misc for 32-bit x86 executables. Nothing is done where they already run.
# Debian 12's qemu 7.2 takes about a minute to start 32-bit wine (its memory map is searched page
# by page), so qemu-user comes from bookworm-backports (10.0 starts it in a quarter of a second).
# As root, or with sudo; idempotent. Exit status 0 when 32-bit programs run afterwards.
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
log() { echo "i386-emulation: $*" >&2; }

PROBE=/usr/lib/wine/wine
runs_32bit() { "$PROBE" --version >/dev/null 2>&1; }

if [ ! -x "$PROBE" ]; then
  log "$PROBE is not installed (scripts/windows-setup.sh installs wine32 first)"
  exit 1
fi
if runs_32bit; then
  exit 0
fi
log "this kernel does not start 32-bit programs: registering qemu's user-mode emulator for them"

# The oldest qemu-user whose start of 32-bit wine is quick.
QEMU_MIN=8.1
qemu_version() { dpkg-query -W -f='${Version}' qemu-user 2>/dev/null | sed 's/^[0-9]*://; s/[+~-].*//'; }
if ! dpkg --compare-versions "$(qemu_version)" ge "$QEMU_MIN" 2>/dev/null; then
  . /etc/os-release
  suite=${VERSION_CODENAME:-bookworm}-backports
  if ! grep -rqs "$suite" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$suite" | $SUDO tee /etc/apt/sources.list.d/tessal-backports.sources >/dev/null
  fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends -t "$suite" qemu-user
fi
QEMU=/usr/bin/qemu-i386
[ -x "$QEMU" ] || { log "$QEMU missing after installing qemu-user"; exit 1; }

BINFMT=/proc/sys/fs/binfmt_misc
[ -e "$BINFMT/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$BINFMT"
# An older registration (another emulator binary) is replaced. F: the emulator is opened now, so
# it serves every mount namespace and chroot.
[ ! -e "$BINFMT/qemu-i386" ] || echo -1 | $SUDO tee "$BINFMT/qemu-i386" >/dev/null
printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU"':F' |
  $SUDO tee "$BINFMT/register" >/dev/null

if runs_32bit; then
  log "32-bit programs run through $QEMU"
else
  log "32-bit programs still do not run"
  exit 1
fi
