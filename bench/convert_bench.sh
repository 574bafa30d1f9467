#!/usr/bin/env bash
# Conversion time of parlux next to a bare LibreOffice --convert-to (fresh profile each run,
# restarted once when the first start asks for it, as the soffice script does), on the same
# small .docx and .xlsx. Prints the median of ROUNDS runs of each and their ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
ROUNDS="${ROUNDS:-5}"
corpus="${CORPUS_DIR:-../shared/corpus/office}"
soffice=/usr/lib/libreoffice/program/soffice.bin
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
[ -x build/bin/parlux ] || ./scripts/setup.sh > /dev/null
export XDG_CACHE_HOME="$work/cache"

now_ms() { date +%s%3N; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

run_parlux() {
  local rc=0
  ./build/bin/parlux "$1" "$work/out-parlux.pdf" ms || rc=$?
  [ "$rc" -eq 1 ] || { echo "parlux failed ($rc) on $1" >&2; exit 1; }
}
run_bare() {
  local profile="$work/profile-$RANDOM$RANDOM" rc=0
  for attempt in 1 2; do
    rc=0
    "$soffice" -env:UserInstallation="file://$profile" --headless --invisible --norestore --nologo \
      --convert-to pdf --outdir "$work/bare" "$1" > /dev/null 2>&1 || rc=$?
    [ "$rc" -eq 81 ] || break
  done
  rm -rf "$profile"
  [ "$rc" -eq 0 ] || { echo "soffice failed ($rc) on $1" >&2; exit 1; }
}

# The profile template parlux starts from is made once, outside the measured runs.
cp "$corpus/docx-tracked-insert.docx" "$work/sample.docx"
cp "$corpus/xlsx-formulas-only.xlsx" "$work/sample.xlsx"
run_parlux "$work/sample.docx"

echo "date: $(date -u +%Y-%m-%dT%H:%MZ), machine: $(nproc) cores, $(uname -m), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
for doc in sample.docx sample.xlsx; do
  : > "$work/t-parlux"
  : > "$work/t-bare"
  for _ in $(seq "$ROUNDS"); do
    t0=$(now_ms); run_parlux "$work/$doc"; t1=$(now_ms); echo $((t1 - t0)) >> "$work/t-parlux"
    t0=$(now_ms); run_bare "$work/$doc"; t1=$(now_ms); echo $((t1 - t0)) >> "$work/t-bare"
  done
  p=$(median < "$work/t-parlux")
  b=$(median < "$work/t-bare")
  printf '%s: parlux %s ms, bare soffice --convert-to %s ms, ratio %.2f (median of %s)\n' \
    "$doc" "$p" "$b" "$(echo "$p / $b" | bc -l)" "$ROUNDS"
done
