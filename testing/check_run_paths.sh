#!/usr/bin/env bash
# Fails when a built program or library would load libraries from a place that depends on the
# working directory: an empty or relative RUNPATH/RPATH entry. Usage: check_run_paths.sh DIR...
set -euo pipefail
checked=0 bad=0
for dir in "$@"; do
  while IFS= read -r -d '' file; do
    head -c 4 "$file" | grep -q $'^\x7fELF' || continue
    checked=$((checked + 1))
    paths=$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\?PATH).*\[\(.*\)\]$/\2/p')
    [ -n "$paths" ] || continue
    # Each ":"-separated entry on a line of its own; a trailing ":" gives an empty last line.
    while IFS= read -r entry; do
      case "$entry" in
        /* | '$ORIGIN'*) ;;
        *) echo "$file: run path \"$paths\" has the entry \"$entry\" (empty or relative)"; bad=$((bad + 1)) ;;
      esac
    done < <(printf '%s\n' "$paths" | tr ':' '\n')
  done < <(find "$dir" -maxdepth 1 -type f -print0)
done
echo "checked $checked ELF files"
[ "$checked" -gt 0 ] || { echo "no ELF files found in $*"; exit 1; }
[ "$bad" -eq 0 ]
