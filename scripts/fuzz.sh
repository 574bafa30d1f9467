#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in build-fuzz and runs each for SECONDS
# (default 60). Corpora live in build-fuzz/corpus/<target>: seeded from the
# project's fixtures and, when present, ../shared/corpus; what the fuzzer finds stays there for
# the next run. Crashing inputs are written to build-fuzz/findings/<target>.
#   scripts/fuzz.sh [SECONDS] [TARGET...]    e.g. scripts/fuzz.sh 120 cert_info
#   FUZZ_PARALLEL=N runs N targets at once.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH="${1:-60}"
shift || true
BUILD=build-fuzz
SHARED_CORPUS=../shared/corpus

# The targets named (with or without the fuzz_ prefix), all by default; an unknown name fails
# before anything is built.
source fuzz/targets.sh
targets=()
[ "$#" -gt 0 ] || set -- "${FUZZ_TARGETS[@]}"
for name in "$@"; do
  t=$(fuzz_target_name "$name") || { echo "fuzz: unknown target \"$name\" (known: ${FUZZ_TARGETS[*]})" >&2; exit 2; }
  targets+=("$t")
done

# Optimised with line tables only: findings still point at their lines, the build is quicker.
CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIT_FUZZ=ON \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
  -DKIT_BUILD_TESTS=OFF ${CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD" -j"${JOBS:-2}" --target fuzz_targets

# Seeds: copies under the content's hash, so seeding again adds nothing twice.
seed() {  # seed TARGET FILE...
  local dir="$BUILD/corpus/$1" f
  shift
  mkdir -p "$dir"
  for f in "$@"; do
    [ -f "$f" ] && cp "$f" "$dir/seed-$(sha1sum <"$f" | cut -c1-16)"
  done
  return 0
}
# Certificates as DER, whether stored as PEM or DER.
seed_certs() {  # seed_certs TARGET FILE...
  local target="$1" f tmp
  shift
  tmp=$(mktemp -d)
  for f in "$@"; do
    [ -f "$f" ] || continue
    openssl x509 -in "$f" -outform DER -out "$tmp/$(basename "$f").der" 2>/dev/null ||
      openssl x509 -inform DER -in "$f" -outform DER -out "$tmp/$(basename "$f").der" 2>/dev/null || true
  done
  seed "$target" "$tmp"/*
  rm -rf "$tmp"
}

certs=(tessal/certs/builtin/*.pem)
[ -d "$SHARED_CORPUS/certs" ] && certs+=("$SHARED_CORPUS"/certs/*)
seed_certs cert_info "${certs[@]}"
seed_certs sm2_messages "${certs[@]}"
if [ -d "$SHARED_CORPUS/office" ]; then
  seed compound_file "$SHARED_CORPUS"/office/*.doc "$SHARED_CORPUS"/office/*.xls
fi
mkdir -p "$BUILD/corpus/encodings"
printf 'aGVsbG8gd29ybGQ=' >"$BUILD/corpus/encodings/seed-base64"
printf '\xe4\xb8\xad\xe6\x96\x87 text \xff\xfe' >"$BUILD/corpus/encodings/seed-utf8"
# A signature as keys make them, and a worker's progress and result messages (split after the first).
tmp=$(mktemp -d)
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out "$tmp/key.pem" 2>/dev/null &&
  printf 'seed' | openssl dgst -sm3 -sign "$tmp/key.pem" -out "$tmp/signature.der" 2>/dev/null || true
seed signature_der "$tmp/signature.der"
message() {  # message KIND: magic, size 1088, kind, the rest zero
  printf "PLXW\\x40\\x04\\x00\\x00\\x$(printf %02x "$1")\\x00\\x00\\x00"
  head -c 1076 /dev/zero
}
{ printf '\x04\x40'; message 1; message 2; } >"$tmp/messages"
seed worker_pipe "$tmp/messages"
# Token files as the software key writes them.
"$BUILD/bin/softkey" --store "$tmp/store" store init >/dev/null
for serial in FUZZ01 FUZZ02; do
  "$BUILD/bin/softkey" --store "$tmp/store" create --serial "$serial" --vid 1234 --pid 5678 >/dev/null 2>&1 || true
done
seed softkey_store "$tmp"/store/tokens/*.json
rm -rf "$tmp"

# Workbook packages: the corpus's, the LibreOffice test fixtures an ordinary or ASan build made (not the
# padded one: each run of it inflates 64 MB), and a small package stored uncompressed (so
# mutations reach the XML directly). Command lines as the supervisor and a user write them. SKF
# blobs the scratch key accepts, from the seed maker.
if [ -d "$SHARED_CORPUS/office" ]; then
  seed chart_sheets "$SHARED_CORPUS"/office/*.xlsx "$SHARED_CORPUS"/office/*.xlsm
fi
for tree in build build-asan; do
  seed chart_sheets "$tree"/testtmp/office-fixtures/wide.xlsx "$tree"/testtmp/office-fixtures/rows.xlsx
done
tmp=$(mktemp -d)
if command -v zip >/dev/null; then
  mkdir -p "$tmp/book/xl/_rels"
  printf '<workbook xmlns:r="r"><sheets><sheet name="a" r:id="rId1"/><sheet name="c" r:id="rId2"/></sheets></workbook>' \
    >"$tmp/book/xl/workbook.xml"
  printf '<Relationships><Relationship Id="rId1" Type="x/worksheet"/><Relationship Id="rId2" Type="x/chartsheet"/></Relationships>' \
    >"$tmp/book/xl/_rels/workbook.xml.rels"
  (cd "$tmp/book" && zip -q -X -0 -r ../stored.xlsx xl)
  seed chart_sheets "$tmp/stored.xlsx"
fi
printf '%s\0' --parlux-worker ms 1 '/in/报 告.docx' 'C:\out\a "b".pdf' 7 -1 | head -c -1 >"$tmp/worker"
printf '%s\0' in.docx ../out/in.pdf WPS | head -c -1 >"$tmp/converter"
seed worker_args "$tmp/worker" "$tmp/converter"
mkdir -p "$tmp/skf" "$tmp/compound"
"$BUILD/bin/fuzz_compound_file_seeds" "$tmp/compound"
seed compound_file "$tmp"/compound/*
TMPDIR="$tmp" "$BUILD/bin/fuzz_skf_blobs_seeds" "$tmp/skf"
seed skf_blobs "$tmp"/skf/*
rm -rf "$tmp"

# Answers of time-stamp authorities, OCSP responders, CRL distribution points and the cloud
# services; seal data; SM2 signed messages made by the library.
source fuzz/seed_authorities.sh
source fuzz/seed_sm2_messages.sh
source fuzz/seed_cloud_and_seals.sh

# Logs and scratch stores of the code under test go to the build tree, never the user's own directories.
export HOME="$PWD/$BUILD/home" XDG_STATE_HOME="$PWD/$BUILD/home/state" TMPDIR="$PWD/$BUILD/tmp"
mkdir -p "$HOME" "$TMPDIR" "$BUILD/findings"

# One target's run. Its output goes to findings/<target>.log; a fault leaves findings/<target>.fault.
run_target() {  # run_target TARGET
  local t="$1" max_len=4096 dict=()
  mkdir -p "$BUILD/findings/$t" "$BUILD/corpus/$t"
  rm -f "$BUILD/findings/$t.fault" "$BUILD/findings/$t.log"
  # fuzz_chart_sheets needs LibreOffice and its SDK at build time.
  [ -x "$BUILD/bin/fuzz_$t" ] || return 0
  [ "$t" = compound_file ] && max_len=65536
  [ "$t" = chart_sheets ] && max_len=131072
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  case "$t" in cert_info | sm2_messages | signature_der | time_stamp | ocsp | crl) dict=(-dict=fuzz/asn1.dict) ;; esac
  "$BUILD/bin/fuzz_$t" -max_total_time="$SECONDS_EACH" -max_len="$max_len" "${dict[@]}" \
    -print_final_stats=1 -artifact_prefix="$BUILD/findings/$t/" "$BUILD/corpus/$t" \
    >"$BUILD/findings/$t.log" 2>&1 || touch "$BUILD/findings/$t.fault"
}

# FUZZ_PARALLEL targets run at once (default 1), each for the whole time given.
parallel="${FUZZ_PARALLEL:-1}"
running=0
echo "== ${#targets[@]} targets for ${SECONDS_EACH}s each, $parallel at a time"
for t in "${targets[@]}"; do
  if [ "$running" -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "$t" &
  running=$((running + 1))
done
wait

status=0
for t in "${targets[@]}"; do
  echo "== fuzz_$t"
  [ -f "$BUILD/findings/$t.log" ] || { echo "fuzz_$t was not built: skipped"; continue; }
  if [ -f "$BUILD/findings/$t.fault" ]; then
    echo "fuzz_$t FOUND A FAULT: see $BUILD/findings/$t.log and $BUILD/findings/$t/"
    status=1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$BUILD/findings/$t.log" || tail -n 20 "$BUILD/findings/$t.log"
done
exit "$status"
