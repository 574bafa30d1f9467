# Documents the benchmarks convert and how they are measured, shared by batch_bench.sh and
# serve_bench.sh (sourced).

# Sets cpu_ms to the CPU time (user + system, ms) of this script's finished children so far:
# the measured programs with every process they started and waited for.
note_cpu() {
  times > "$work/times"  # in this shell: a subshell has no children of its own
  cpu_ms=$(awk 'NR == 2 { t = 0; for (i = 1; i <= 2; i++) { split($i, a, "m"); sub("s", "", a[2]); t += a[1] * 60 + a[2] }
                          printf "%d\n", t * 1000 }' "$work/times")
}

# An RTF document of $2 pages.
rtf() {
  awk -v pages="$2" -v n="$1" 'BEGIN {
    print "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Liberation Serif;}}"
    for (i = 1; i <= pages; i++) {
      printf "{\\pard\\b Document %s, page %d\\par}\n{\\pard The quick brown fox jumps over the lazy dog.\\par}\n", n, i
      if (i < pages) print "\\page"
    }
    print "}" }'
}

# soffice_convert <profile dir> <format> <out dir> <files...>: one soffice --convert-to invocation;
# a fresh profile may ask for one restart (exit 81), as the soffice script handles it.
soffice_convert() {
  local profile=$1 format=$2 outdir=$3 rc
  shift 3
  for attempt in 1 2; do
    rc=0
    "$soffice" -env:UserInstallation="file://$profile" --headless --invisible --norestore --nologo \
      --convert-to "$format" --outdir "$outdir" "$@" > /dev/null 2>&1 || rc=$?
    [ "$rc" -eq 81 ] || break
  done
  return "$rc"
}

# COUNT documents in $work/docs ($work, $COUNT and $soffice set by the caller): corpus ones first
# (unencrypted Word and Excel files), then generated RTF and, for a quarter of the rest,
# workbooks LibreOffice makes from CSV (not measured).
make_documents() {
  local n=0 sheets i f corpus
  corpus=../shared/corpus/office
  if [ -d "$corpus" ]; then
    for f in "$corpus"/*.docx "$corpus"/*.doc "$corpus"/*.xlsx "$corpus"/*.xls; do
      [ -f "$f" ] && [ "$n" -lt "$COUNT" ] || continue
      case "$(basename "$f")" in *encrypt*|*password*|*protect*) continue ;; esac
      cp "$f" "$work/docs/c$(printf %03d "$n")-$(basename "$f")"
      n=$((n + 1))
    done
  fi
  sheets=$(( (COUNT - n) / 4 ))
  for ((i = 0; i < sheets; i++)); do
    awk -v s="$i" 'BEGIN { for (r = 1; r <= 20; r++) printf "%d,item %d,%d.%02d,=A%d*2\n", r, r, s, r, r }' > "$work/csv-$i.csv"
  done
  if [ "$sheets" -gt 0 ]; then
    soffice_convert "$work/csv-profile" xlsx "$work/csv" "$work"/csv-*.csv || true
    for f in "$work"/csv/*.xlsx; do
      [ -f "$f" ] && [ "$n" -lt "$COUNT" ] || continue
      mv "$f" "$work/docs/g$(printf %03d "$n").xlsx"
      n=$((n + 1))
    done
  fi
  while [ "$n" -lt "$COUNT" ]; do
    rtf "$n" 2 > "$work/docs/g$(printf %03d "$n").rtf"
    n=$((n + 1))
  done
}
