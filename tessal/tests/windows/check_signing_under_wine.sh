#!/usr/bin/env bash
# Signatures made on Windows, verified on Linux: the software key and the host of libtessal.dll
# run under wine, cloudsim (the time service) on this machine's loopback, and the openssl
# command line of this machine checks what the host wrote.
#   check_signing_under_wine.sh BIN_DIR CLOUDSIM CERTS_DIR WINE...
# BIN_DIR: the Windows build's bin/ (softkey.exe, libsoftkey.dll, tessal_signing_host.exe);
# CLOUDSIM: a Linux cloudsim; CERTS_DIR: tessal/certs/builtin; WINE: how to run a Windows program.
set -euo pipefail
bin=$1 cloudsim=$2 certs=$3
shift 3
wine=("$@")

work=$(mktemp -d "${TMPDIR:-/tmp}/signing-under-wine-XXXXXX")
sim_pid=
# The wine server started here (with this TMPDIR) holds the test's output open while wine's own
# services linger: it is stopped with the rest.
cleanup() {
  [ -z "$sim_pid" ] || { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true; }
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
# A path of this machine as Windows programs under wine see it (drive Z: is the root).
win() { echo "Z:$1"; }

"$cloudsim" --state "$work/cloudsim" --port 0 --port-file "$work/cloudsim.port" > "$work/cloudsim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1200); do
  [ -s "$work/cloudsim.port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || fail "cloudsim ended before it listened: $(cat "$work/cloudsim.log")"
  sleep 0.1
done
[ -s "$work/cloudsim.port" ] || fail "cloudsim did not listen within 2 minutes"

mkdir -m 700 "$work/store"
mkdir -p "$work/store/sys/bus/usb/devices" "$work/drivers" "$work/out"
export SOFTKEY_STORE=$(win "$work/store")
export TESSAL_USB_SYSFS=$(win "$work/store/sys/bus/usb/devices")
export TESSAL_DRIVER_DIR=$(win "$work/drivers")
export TESSAL_LOG_FILE=$(win "$work/tessal.log")
export TESSAL_SETTLE_MS=0 TESSAL_CONSOLE=0
export TESSAL_CONNECT_TO="::127.0.0.1:$(cat "$work/cloudsim.port")"
export TESSAL_CA_FILE=$(win "$work/cloudsim/ca.pem")

softkey() { "${wine[@]}" "$bin/softkey.exe" "$@" > /dev/null || fail "softkey.exe $*"; }
host() { "${wine[@]}" "$bin/tessal_signing_host.exe" "$1" "$(win "$work/out")" "$2" || fail "tessal_signing_host.exe $*"; }
# A key with one container and a certificate for its signing key issued by the stand-in SHECA G2.
key_with_certificate() {
  local serial=$1 container=$2 algorithm=$3
  softkey create --serial "$serial" --vid 1D99 --pid 0001
  softkey container create "$serial" "$container" "$algorithm"
  softkey container pubkey "$serial" "$container" sign "$(win "$work/$serial.pub.pem")"
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/request.key" 2>/dev/null
  openssl req -new -key "$work/request.key" -subj "/CN=$serial signer" -out "$work/request.csr"
  openssl x509 -req -in "$work/request.csr" -force_pubkey "$work/$serial.pub.pem" \
    -CA "$certs/dev-standin-sheca-g2.pem" -CAkey "$certs/test-only-keys/dev-standin-sheca-g2.key" \
    -set_serial "0x$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')" -days 30 -out "$work/$serial.cert.pem" 2>/dev/null
  softkey cert import "$serial" "$container" sign "$(win "$work/$serial.cert.pem")"
}
cms_verify() {
  openssl cms -verify -binary -inform DER -CAfile "$certs/dev-standin-uca-root-g2.pem" -purpose any "$@" \
    > /dev/null 2>&1
}

softkey install-driver --root "$(win "$work/drivers")" --name SKF_APP.dll --family 'SDCA&HNCA' \
  --from "$(win "$bin/libsoftkey.dll")"

# PKCS#7, attached and detached, with a time-stamp token from cloudsim.
key_with_certificate RSA1 CntRSA rsa2048
softkey plug RSA1
printf '合同正文 contract body\n' > "$work/out/content.txt"
host p7 RSA1
cms_verify -in "$work/out/attached.p7" -out "$work/attached.out" || fail "openssl cms -verify refused the attached PKCS#7"
cmp -s "$work/out/content.txt" "$work/attached.out" || fail "the attached PKCS#7 does not hold the content"
cms_verify -in "$work/out/detached.p7" -content "$work/out/content.txt" ||
  fail "openssl cms -verify refused the detached PKCS#7"
printf 'other content\n' > "$work/other.txt"
! cms_verify -in "$work/out/detached.p7" -content "$work/other.txt" ||
  fail "openssl cms -verify accepted the detached PKCS#7 over other content"
openssl ts -verify -token_in -in "$work/out/token.der" -data "$work/out/signature.bin" \
  -CAfile "$work/cloudsim/ca.pem" -untrusted "$work/cloudsim/tsa.pem" > /dev/null 2>&1 ||
  fail "openssl ts -verify refused the signature's time-stamp token"
echo "PKCS#7 signed under wine, verified with openssl cms and its time stamp with openssl ts"

# An SM2 seal signature (SM3 with the default signer identifier), verified with OpenSSL's SM2.
softkey unplug RSA1
key_with_certificate SM21 CntSM2 sm2
softkey plug SM21
printf '印章数据 seal bytes' > "$work/out/seal.txt"
host seal SM21
sm2_verify() {
  openssl pkeyutl -verify -pubin -inkey "$work/SM21.pub.pem" -rawin -digest sm3 \
    -pkeyopt distid:1234567812345678 -in "$1" -sigfile "$work/out/seal.sig" > /dev/null 2>&1
}
sm2_verify "$work/out/seal.txt" || fail "openssl pkeyutl refused the SM2 seal signature"
printf 'other seal bytes' > "$work/other-seal.txt"
! sm2_verify "$work/other-seal.txt" || fail "openssl pkeyutl accepted the SM2 seal signature over other bytes"
echo "SM2 seal signature made under wine, verified with openssl pkeyutl"
