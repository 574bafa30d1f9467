#!/usr/bin/env bash
# Installs what is needed, builds the kit and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

# The library never creates its log directory; the demo makes the default one for the user.
if [ -z "${TESSAL_LOG_FILE:-}" ]; then
  mkdir -p "$HOME/.zyk"
  log="$HOME/.zyk/ZYKUKeyDriver.log"
else
  log="$TESSAL_LOG_FILE"
fi

./build/bin/tessal-demo
echo "last line of $log:"
tail -n 1 "$log"
