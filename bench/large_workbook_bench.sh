#!/usr/bin/env bash
# A generated workbook of ROWS rows x 5 columns (default 100000; HEIGHTS=varied: rows of four
# different heights), converted by parlux and by a bare LibreOffice --convert-to in one run
# (fresh profile, restarted once when the first start asks for it, as the soffice script does).
# Prints both times and their ratio; the goal is a ratio of at most 1.2.
set -euo pipefail
cd "$(dirname "$0")/.."
ROWS="${ROWS:-100000}"
soffice=/usr/lib/libreoffice/program/soffice.bin
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
[ -x build/bin/parlux ] || { echo "build parlux first (cmake --build build)" >&2; exit 1; }
export XDG_CACHE_HOME="$work/cache"

now_ms() { date +%s%3N; }
bare() {  # bare <format> <file>
  local profile="$work/profile-$RANDOM$RANDOM" rc=0
  for attempt in 1 2; do
    rc=0
    "$soffice" -env:UserInstallation="file://$profile" --headless --invisible --norestore --nologo \
      --convert-to "$1" --outdir "$work/bare" "$2" > /dev/null 2>&1 || rc=$?
    [ "$rc" -eq 81 ] || break
  done
  rm -rf "$profile"
  [ "$rc" -eq 0 ] || { echo "soffice failed ($rc) on $2" >&2; exit 1; }
}

# The workbook: numbers, text and a formula per row, written by LibreOffice from CSV; with
# HEIGHTS=varied from an Excel 2003 XML sheet whose rows change height every third row.
if [ "${HEIGHTS:-}" = varied ]; then
  awk -v rows="$ROWS" 'BEGIN {
    print "<?xml version=\"1.0\"?><Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"><Worksheet ss:Name=\"Sheet1\"><Table>"
    for (i = 1; i <= rows; i++)
      printf "<Row ss:AutoFitHeight=\"0\" ss:Height=\"%d\"><Cell><Data ss:Type=\"Number\">%d</Data></Cell><Cell><Data ss:Type=\"String\">item %d</Data></Cell><Cell><Data ss:Type=\"Number\">%d.%02d</Data></Cell><Cell ss:Formula=\"=RC[-3]*2\"/><Cell><Data ss:Type=\"String\">row %d of the list</Data></Cell></Row>\n", 15 + int(i / 3) % 4 * 3, i, i, i % 997, i % 100, i
    print "</Table></Worksheet></Workbook>" }' > "$work/large.xml"
  bare xlsx "$work/large.xml"
else
  awk -v rows="$ROWS" 'BEGIN { for (i = 1; i <= rows; i++) printf "%d,item %d,%d.%02d,=A%d*2,row %d of the list\n", i, i, i % 997, i % 100, i, i }' \
    > "$work/large.csv"
  bare xlsx "$work/large.csv"
fi
mv "$work/bare/large.xlsx" "$work/large.xlsx"
# The profile template parlux starts from is made once, outside the measured runs.
cp demo/sample.rtf "$work/warm.rtf" 2>/dev/null && ./build/bin/parlux "$work/warm.rtf" "$work/warm.pdf" ms || true

echo "date: $(date -u +%Y-%m-%dT%H:%MZ), machine: $(nproc) cores, $(uname -m), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), load $(cut -d' ' -f1-3 /proc/loadavg)"
t0=$(now_ms); rc=0; ./build/bin/parlux "$work/large.xlsx" "$work/parlux.pdf" ms || rc=$?; t1=$(now_ms)
[ "$rc" -eq 1 ] || { echo "parlux failed ($rc)" >&2; exit 1; }
t2=$(now_ms); bare pdf "$work/large.xlsx"; t3=$(now_ms)
p=$((t1 - t0)); b=$((t3 - t2))
printf '%s rows x 5 columns%s: parlux %s ms (%s pages), bare soffice --convert-to %s ms (%s pages), ratio %.2f\n' \
  "$ROWS" "${HEIGHTS:+ ($HEIGHTS heights)}" "$p" "$(pdfinfo "$work/parlux.pdf" | awk '/^Pages:/ {print $2}')" \
  "$b" "$(pdfinfo "$work/bare/large.pdf" | awk '/^Pages:/ {print $2}')" "$(echo "$p / $b" | bc -l)"
