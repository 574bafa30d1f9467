#!/usr/bin/env bash
# Installs what is needed, builds the kit and runs the demo on a software key.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

demo="${DEMO_DIR:-$PWD/build/demo}"
rm -rf "$demo"
mkdir -p "$demo/drivers"
export SOFTKEY_STORE="$demo/store"
export TESSAL_USB_SYSFS="$SOFTKEY_STORE/sys/bus/usb/devices"
export TESSAL_DRIVER_DIR="$demo/drivers"
export TESSAL_LOG_FILE="${TESSAL_LOG_FILE:-$demo/ZYKUKeyDriver.log}"
softkey=./build/bin/softkey

echo "== a software key on a virtual USB bus"
"$softkey" create --serial DEMO0001 --vid 1EA8 --pid C109 --label "Demo key"
"$softkey" container create DEMO0001 CntSM2 sm2
"$softkey" install-driver --root "$TESSAL_DRIVER_DIR" --name EsZYKEBankCspV2.dll
echo
echo "== a host using libtessal"
./build/bin/tessal-demo "$softkey" DEMO0001
echo
echo "last lines of $TESSAL_LOG_FILE:"
tail -n 3 "$TESSAL_LOG_FILE"
