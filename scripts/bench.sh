#!/usr/bin/env bash
# Signing benchmark: the library against the software key's own signing and openssl cms.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh > /dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOFTKEY_STORE="$work/store" TESSAL_USB_SYSFS="$work/store/sys/bus/usb/devices"
export TESSAL_DRIVER_DIR="$work/drivers" TESSAL_LOG_FILE="$work/tessal.log" TESSAL_SETTLE_MS=0
# The time service refuses at once: the benchmark measures signing, not the network.
export TESSAL_CONNECT_TO="::127.0.0.1:9" TESSAL_CA_FILE=/dev/null
softkey=./build/bin/softkey
builtin=tessal/certs/builtin
"$softkey" store init > /dev/null
"$softkey" create --serial DEMO0001 --vid 1D99 --pid 0001 > /dev/null
"$softkey" container create DEMO0001 CntRSA rsa2048 > /dev/null
"$softkey" container pubkey DEMO0001 CntRSA sign "$work/rsa.pub.pem"
openssl x509 -new -force_pubkey "$work/rsa.pub.pem" -subj "/CN=Bench RSA" -CA "$builtin/dev-standin-sheca-g2.pem" \
  -CAkey "$builtin/test-only-keys/dev-standin-sheca-g2.key" -days 30 -out "$work/rsa.cert.pem"
"$softkey" cert import DEMO0001 CntRSA sign "$work/rsa.cert.pem" > /dev/null
"$softkey" create --serial DEMO0002 --vid 1D99 --pid 0001 > /dev/null
"$softkey" container create DEMO0002 CntSM2 sm2 > /dev/null
"$softkey" container pubkey DEMO0002 CntSM2 sign "$work/sm2.pub.pem"
openssl x509 -new -force_pubkey "$work/sm2.pub.pem" -subj "/CN=Bench SM2" -CA "$builtin/dev-standin-tamper-ca-sm2.pem" \
  -CAkey "$builtin/test-only-keys/tamper-ca-sm2.key" -sm3 -days 30 -out "$work/sm2.cert.pem"
"$softkey" cert import DEMO0002 CntSM2 sign "$work/sm2.cert.pem" > /dev/null
"$softkey" install-driver --root "$TESSAL_DRIVER_DIR" --name SKF_APP.dll --family "SDCA&HNCA" > /dev/null
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/soft.key" -subj "/CN=Soft" -days 30 -out "$work/soft.cert.pem" 2>/dev/null
echo "document" > "$work/document.txt"
echo "machine: $(nproc) cores, $(uname -m), $(date -u +%Y-%m-%d)"
${BENCH_WRAPPER:-} ./build/bin/sign_bench "$softkey" "$TESSAL_DRIVER_DIR/SDCA&HNCA/SKF_APP.dll" "$work" | grep -v '^in VUV_rsa_priv_enc$\|^end initFunclist$\|^gNIDs'
# Handles and memory over many signatures (the keys plugged again for it).
"$softkey" plug DEMO0001 > /dev/null && "$softkey" plug DEMO0002 > /dev/null
${BENCH_WRAPPER:-} ./build/bin/handle_bench "$TESSAL_DRIVER_DIR/SDCA&HNCA/SKF_APP.dll" | grep -v '^in VUV_rsa_priv_enc$\|^end initFunclist$\|^gNIDs'
