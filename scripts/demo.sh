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
"$softkey" container create DEMO0001 CntRSA rsa2048
"$softkey" container pubkey DEMO0001 CntRSA sign "$demo/CntRSA.pub.pem"
# A certificate for the key's own public key, issued under the development stand-in "SHECA G2".
builtin=tessal/certs/builtin
openssl x509 -new -force_pubkey "$demo/CntRSA.pub.pem" -subj "/C=CN/O=Demo Org/CN=Demo User" \
  -CA "$builtin/dev-standin-sheca-g2.pem" -CAkey "$builtin/test-only-keys/dev-standin-sheca-g2.key" \
  -set_serial 0x0A10FF -days 365 -sha256 -out "$demo/CntRSA.cert.pem"
"$softkey" cert import DEMO0001 CntRSA sign "$demo/CntRSA.cert.pem"
"$softkey" install-driver --root "$TESSAL_DRIVER_DIR" --name EsZYKEBankCspV2.dll
echo
echo "== a host using libtessal"
./build/bin/tessal-demo "$softkey" DEMO0001
echo
echo "last lines of $TESSAL_LOG_FILE:"
tail -n 3 "$TESSAL_LOG_FILE"
