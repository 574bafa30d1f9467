#!/bin/sh
# The manual pages render without groff warnings and have a NAME section.
# check_man_pages.sh PAGE...
set -u
failed=0
for page in "$@"; do
    warnings=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
    if [ -n "$warnings" ]; then
        echo "FAIL: $page: $warnings"
        failed=1
    fi
    grep -q '^\.SH.*NAME' "$page" || { echo "FAIL: $page has no NAME section"; failed=1; }
done
exit $failed
