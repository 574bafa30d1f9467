#!/usr/bin/env bash
# COUNT small documents (default 100, the same set as batch_bench.sh) on the LibreOffice back end:
#   1. `parlux serve --jobs JOBS` (JOBS default 2) with CLIENTS concurrent uploads (default
#      2 x JOBS) from one curl process: documents per second, median and 95th-percentile latency,
#   2. `parlux --batch --jobs JOBS` over the same files in the same order,
#   3. one `soffice --convert-to pdf` invocation over them.
# ORDER=sorted (default) sends them by name, each kind in a block as the batch's list has them;
# ORDER=mixed in a fixed shuffle, the kinds interleaved as a service's clients send them.
# Goal: the service's total time within 1.2 x the batch's. Wall-clock times: run it on a quiet
# machine; the CPU times (user + system of every process of the run, the client's included) and
# the office start-ups vary less. KEEP_LOGS=DIR keeps the converter's logs of both runs there
# (serve.log, batch.log).
set -euo pipefail
cd "$(dirname "$0")/.."
COUNT="${COUNT:-100}"
JOBS="${JOBS:-2}"
CLIENTS="${CLIENTS:-$((2 * JOBS))}"
ORDER="${ORDER:-sorted}"
case "$ORDER" in sorted | mixed) ;; *) echo "ORDER is sorted or mixed" >&2; exit 1 ;; esac
soffice=/usr/lib/libreoffice/program/soffice.bin
[ -x build/bin/parlux ] || { echo "build parlux first (cmake --build build)" >&2; exit 1; }
[ -x "$soffice" ] || { echo "LibreOffice is not installed" >&2; exit 1; }
command -v curl > /dev/null || { echo "curl is not installed" >&2; exit 1; }
work="$(mktemp -d)"
server=""
trap '[ -z "$server" ] || kill "$server" 2> /dev/null || true; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM  # the EXIT trap still cleans up
export XDG_CACHE_HOME="$work/cache" TMPDIR="$work/tmp"
mkdir -p "$work/tmp" "$work/docs" "$work/bare" "$work/batch" "$work/served"
cp build/bin/parlux "$work/parlux"  # its log goes to $work/Logs
parlux="$work/parlux"
now_ms() { date +%s%3N; }
. bench/bench_documents.sh
make_documents
# The profile template parlux starts from is made once, outside the measured runs.
rtf warm 1 > "$work/warm.rtf"
"$parlux" "$work/warm.rtf" "$work/warm.pdf" ms || true
rm -rf "$work/Logs"  # its start-up is not the service's

documents() {  # the documents' names in the order ORDER gives
  if [ "$ORDER" = mixed ]; then ls "$work/docs" | shuf --random-source=<(yes); else ls "$work/docs"; fi
}
documents > "$work/order.txt"

percentile() {  # percentile P: of the numbers on standard input
  sort -n | awk -v p="$1" '{ v[NR] = $1 } END { i = int((NR - 1) * p / 100 + 0.5) + 1; print v[i] }'
}
echo "date: $(date -u +%Y-%m-%dT%H:%MZ), machine: $(nproc) cores, $(uname -m), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "documents: $COUNT ($(ls "$work/docs" | sed 's/.*\.//' | sort | uniq -c | awk '{printf "%s %s ", $1, $2}')), order $ORDER"

# 1. The service, started cold like the batch: its office start-ups count.
"$parlux" serve --listen 127.0.0.1:0 --jobs "$JOBS" --queue "$COUNT" 2> "$work/serve.err" &
server=$!
for ((i = 0; i < 200; i++)); do
  port=$(grep -o 'listening on http://127.0.0.1:[0-9]*' "$work/serve.err" | cut -d: -f3 || true)
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "parlux serve did not start: $(cat "$work/serve.err")" >&2; exit 1; }
# One client process for all uploads: a process per upload would cost this 2-core machine more
# CPU than the service's own HTTP work.
first=1
while read -r name; do
  [ -n "$first" ] || echo next  # between two uploads' options
  first=""
  printf 'silent\nurl = "http://127.0.0.1:%s/convert"\nform = "file=@%s"\noutput = "%s"\n' \
    "$port" "$work/docs/$name" "$work/served/$name.pdf"
  printf 'write-out = "%%{http_code} %%{time_total}\\n"\n'
done < "$work/order.txt" > "$work/uploads.curl"
note_cpu; c0=$cpu_ms
t0=$(now_ms)
curl -s --parallel --parallel-immediate --parallel-max "$CLIENTS" -K "$work/uploads.curl" > "$work/latencies.txt" 2> "$work/curl.err" || true
t1=$(now_ms)
served=$((t1 - t0))
ok=$(grep -c '^200 ' "$work/latencies.txt" || true)
median=$(awk '{ print $2 * 1000 }' "$work/latencies.txt" | percentile 50)
p95=$(awk '{ print $2 * 1000 }' "$work/latencies.txt" | percentile 95)
kill -TERM "$server"; rc=0; wait "$server" || rc=$?; server=""
note_cpu; serve_cpu=$((cpu_ms - c0))
starts() { grep -a -c "Application created" "$work/Logs/convertLog.txt" || true; }
echo "serve --jobs $JOBS, $CLIENTS clients: $served ms total, $ok of $COUNT succeeded (exit $rc after SIGTERM)," \
  "$(awk -v n="$COUNT" -v t="$served" 'BEGIN { printf "%.1f", n * 1000 / t }') documents/s," \
  "latency median ${median%.*} ms, p95 ${p95%.*} ms, $(starts) office start-ups, CPU $serve_cpu ms"
keep_log() { [ -z "${KEEP_LOGS:-}" ] || cp "$work/Logs/convertLog.txt" "$KEEP_LOGS/$1.log"; }
keep_log serve
rm -rf "$work/Logs"

# 2. The batch over the same files.
while read -r name; do
  printf '{"source": "%s", "target": "%s/%s.pdf"}\n' "$work/docs/$name" "$work/batch" "$name"
done < "$work/order.txt" > "$work/jobs.jsonl"
note_cpu; c0=$cpu_ms
t0=$(now_ms); rc=0; "$parlux" --batch "$work/jobs.jsonl" --jobs "$JOBS" > "$work/batch.jsonl" || rc=$?; t1=$(now_ms)
note_cpu; batch_cpu=$((cpu_ms - c0))
batch=$((t1 - t0))
echo "batch --jobs $JOBS: $batch ms total, $(grep -c '"code":1,' "$work/batch.jsonl" || true) of $COUNT succeeded (exit $rc)," \
  "$(awk -v n="$COUNT" -v t="$batch" 'BEGIN { printf "%.1f", n * 1000 / t }') documents/s, $(starts) office start-ups, CPU $batch_cpu ms"
keep_log batch

# 3. One soffice invocation.
t0=$(now_ms); rc=0
soffice_convert "$work/bare-profile" pdf "$work/bare" "$work"/docs/* || rc=$?
t1=$(now_ms); bare=$((t1 - t0))
echo "one soffice --convert-to pdf: $bare ms total (exit $rc), $(ls "$work/bare" | wc -l) PDFs"
awk -v s="$served" -v b="$batch" -v o="$bare" -v sc="$serve_cpu" -v bc="$batch_cpu" 'BEGIN {
  printf "ratios: serve / batch %.2f (goal <= 1.2), serve / soffice %.2f, CPU serve / batch %.2f\n", s / b, s / o, sc / bc }'
left=$(pgrep -f "$work/" | grep -v "^$$\$" || true)
echo "processes left: ${left:-none}; files left in TMPDIR: $(ls -A "$work/tmp" | wc -l)"
