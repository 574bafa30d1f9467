#!/usr/bin/env bash
# COUNT small documents (default 100: generated Word and Excel documents, plus the corpus's
# unencrypted ones when ../shared/corpus is present) on the LibreOffice back end:
#   1. `parlux --batch --jobs JOBS` (JOBS default 2) over all of them,
#   2. COUNT single `parlux` runs, one after another (SKIP_SINGLE=1 leaves them out),
#   3. one `soffice --convert-to pdf` invocation over all of them.
# Prints the batch's median per-document time, the totals and the ratios (goals: median at most
# 150 ms, batch at most 0.6 x the soffice invocation), and the CPU time (user + system) of the
# batch and of the soffice invocation, which a busy machine disturbs less than the wall clock.
# Then the same batch again with one document whose office is stopped (SIGSTOP: it hangs) and
# one whose office is killed (SIGKILL: it crashes), with PARLUX_TIMEOUT_MS=HANG_MS (default
# 20000: an office may take seconds to start on a busy machine, and its start counts): every
# other document must succeed and the hanging one must end as timeout at its limit.
set -euo pipefail
cd "$(dirname "$0")/.."
COUNT="${COUNT:-100}"
JOBS="${JOBS:-2}"
HANG_MS="${HANG_MS:-20000}"
soffice=/usr/lib/libreoffice/program/soffice.bin
[ -x build/bin/parlux ] || { echo "build parlux first (cmake --build build)" >&2; exit 1; }
[ -x "$soffice" ] || { echo "LibreOffice is not installed" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM  # the EXIT trap still cleans up
export XDG_CACHE_HOME="$work/cache" TMPDIR="$work/tmp"
mkdir -p "$work/tmp" "$work/docs" "$work/bare" "$work/single" "$work/batch" "$work/faults"
cp build/bin/parlux "$work/parlux"  # its log goes to $work/Logs
parlux="$work/parlux"
now_ms() { date +%s%3N; }
. bench/bench_documents.sh
make_documents
jobs_for() {  # jobs_for <output dir> [file list]: one job line per document
  for f in "$work"/docs/*; do
    printf '{"source": "%s", "target": "%s/%s.pdf"}\n' "$f" "$1" "$(basename "$f")"
  done
}
# The profile template parlux starts from is made once, outside the measured runs.
rtf warm 1 > "$work/warm.rtf"
"$parlux" "$work/warm.rtf" "$work/warm.pdf" ms || true
rm -rf "$work/Logs"

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
field() { grep -o "\"$1\":[^,}]*" | cut -d: -f2 | tr -d '"'; }

echo "date: $(date -u +%Y-%m-%dT%H:%MZ), machine: $(nproc) cores, $(uname -m), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "documents: $COUNT ($(ls "$work/docs" | sed 's/.*\.//' | sort | uniq -c | awk '{printf "%s %s ", $1, $2}'))"

jobs_for "$work/batch" > "$work/jobs.jsonl"
note_cpu; c0=$cpu_ms
t0=$(now_ms); rc=0; "$parlux" --batch "$work/jobs.jsonl" --jobs "$JOBS" > "$work/batch.jsonl" || rc=$?; t1=$(now_ms)
note_cpu; batch_cpu=$((cpu_ms - c0))
ok=$(grep -c '"code":1,' "$work/batch.jsonl" || true)
batch=$((t1 - t0))
med=$(field ms < "$work/batch.jsonl" | median)
starts=$(grep -a -c "Application created" "$work/Logs/convertLog.txt" || true)
echo "batch --jobs $JOBS: $batch ms total, $ok of $COUNT succeeded (exit $rc), median $med ms per document, $starts office start-ups, CPU $batch_cpu ms"

single=0
if [ "${SKIP_SINGLE:-0}" != 1 ]; then
  t0=$(now_ms); sok=0
  for f in "$work"/docs/*; do
    rc=0; "$parlux" "$f" "$work/single/$(basename "$f").pdf" || rc=$?
    [ "$rc" -ne 1 ] || sok=$((sok + 1))  # parlux's success is exit code 1
  done
  t1=$(now_ms); single=$((t1 - t0))
  echo "single runs: $single ms total, $sok of $COUNT succeeded, $((single / COUNT)) ms per document"
fi

note_cpu; c0=$cpu_ms; t0=$(now_ms); rc=0
soffice_convert "$work/bare-profile" pdf "$work/bare" "$work"/docs/* || rc=$?
t1=$(now_ms); bare=$((t1 - t0)); note_cpu; bare_cpu=$((cpu_ms - c0))
echo "one soffice --convert-to pdf: $bare ms total (exit $rc), $(ls "$work/bare" | wc -l) PDFs, CPU $bare_cpu ms"
awk -v b="$batch" -v s="$single" -v o="$bare" -v m="$med" -v bc="$batch_cpu" -v oc="$bare_cpu" 'BEGIN {
  printf "ratios: batch / soffice %.2f (goal <= 0.6), batch / single runs %s; median %d ms (goal <= 150); CPU batch / soffice %.2f\n",
    b / o, (s > 0 ? sprintf("%.2f", b / s) : "not measured"), m, bc / oc }'

# For comparison, the same invocation on a profile that records the office version, as parlux's
# profile template does: a fresh headless profile never records it, so every start above also
# ran the office's first-start graphics tests (seconds of CPU).
version=$(tr -d '\n' < /usr/lib/libreoffice/share/registry/main.xcd |
  grep -o 'name="ooSetupVersion">[[:space:]]*<value>[0-9.]*' | grep -o '[0-9.]*$' || true)
xcu="$work/bare-profile/user/registrymodifications.xcu"
if [ -n "$version" ] && [ -f "$xcu" ]; then
  sed -i "s|</oor:items>|<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>$version</value></prop></item>\n</oor:items>|" "$xcu"
  mkdir -p "$work/bare2"
  note_cpu; c0=$cpu_ms; t0=$(now_ms); rc=0
  "$soffice" -env:UserInstallation="file://$work/bare-profile" --headless --invisible --norestore --nologo \
    --convert-to pdf --outdir "$work/bare2" "$work"/docs/* > /dev/null 2>&1 || rc=$?
  t1=$(now_ms); bare2=$((t1 - t0)); note_cpu; bare2_cpu=$((cpu_ms - c0))
  echo "one soffice --convert-to pdf, profile recording the version: $bare2 ms total (exit $rc), $(ls "$work/bare2" | wc -l) PDFs, CPU $bare2_cpu ms"
  awk -v b="$batch" -v o="$bare2" -v bc="$batch_cpu" -v oc="$bare2_cpu" 'BEGIN {
    printf "ratios against it: batch / soffice %.2f, CPU batch / soffice %.2f\n", b / o, bc / oc }'
fi

# Faults: the office converting hang.rtf is stopped, the one converting crash.rtf is killed.
rtf hang 300 > "$work/docs/hang.rtf"
rtf crash 300 > "$work/docs/crash.rtf"
jobs_for "$work/faults" > "$work/jobs.jsonl"
rm -rf "$work/Logs"
log="$work/Logs/convertLog.txt"
office_of() {  # office_of <source> <stage>: the office pid serving that document at that stage
  local req line
  for ((i = 0; i < 2400; i++)); do
    req=$(grep -a -o "request={[^}]*} source=$work/docs/$1 " "$log" 2>/dev/null | head -1 | cut -d' ' -f1 || true)
    if [ -n "$req" ]; then
      line=$(grep -a -F "$req provider=ms stage=$2 " "$log" | head -1 || true)
      [ -n "$line" ] && { echo "$line" | grep -o ' pid=[0-9]*' | cut -d= -f2; return; }
    fi
    sleep 0.05
  done
}
t0=$(now_ms)
PARLUX_TIMEOUT_MS="$HANG_MS" "$parlux" --batch "$work/jobs.jsonl" --jobs "$JOBS" > "$work/faults.jsonl" &
batch_pid=$!
# Both are watched at once: each office is caught while it exports its own document.
(pid=$(office_of hang.rtf 7); [ -n "$pid" ] && kill -STOP "$pid"; echo "$pid" > "$work/hang.pid") &
(pid=$(office_of crash.rtf 7); [ -n "$pid" ] && kill -KILL "$pid"; echo "$pid" > "$work/crash.pid") &
rc=0; wait "$batch_pid" || rc=$?
wait
hang_pid=$(cat "$work/hang.pid"); crash_pid=$(cat "$work/crash.pid")
t1=$(now_ms)
ok=$(grep -c '"code":1,' "$work/faults.jsonl" || true)
echo "batch with faults: $((t1 - t0)) ms total (exit $rc), $ok of $COUNT other documents succeeded;" \
  "office of hang.rtf stopped (pid ${hang_pid:-none}), office of crash.rtf killed (pid ${crash_pid:-none})"
for d in hang.rtf crash.rtf; do
  line=$(grep -F "\"source\":\"$work/docs/$d\"" "$work/faults.jsonl" || true)
  echo "  $d: $(echo "$line" | field name) ($(echo "$line" | field code)), $(echo "$line" | field message), $(echo "$line" | field ms) ms"
done
grep -v '"code":1,' "$work/faults.jsonl" | grep -v -e '/hang.rtf"' -e '/crash.rtf"' | while read -r line; do
  echo "  also failed: $(echo "$line" | field source | sed 's|.*/||'): $(echo "$line" | field name) at stage" \
    "$(echo "$line" | field stage), $(echo "$line" | field message)"
done
left=$(pgrep -f "$work/" | grep -v "^$$\$" || true)
echo "processes of the batch left: ${left:-none}; files left in its TMPDIR: $(ls -A "$work/tmp" | wc -l)"
