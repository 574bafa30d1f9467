#!/usr/bin/env bash
# Installs what is needed, builds the kit and runs the demo on software keys and the local
# time service, then checks its signatures with the openssl command line.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

# The run directory is the demo's own: a directory holding the marker file is one an earlier run
# made and is emptied; an empty one is used; anything else is refused, never deleted.
demo="${DEMO_DIR:-$PWD/build/demo-run}"
marker=".tessal-demo-run"
if [ -L "$demo" ] || { [ -e "$demo" ] && [ ! -d "$demo" ]; }; then
  echo "demo: $demo is not a directory; choose another DEMO_DIR" >&2
  exit 1
elif [ -f "$demo/$marker" ]; then
  rm -rf "$demo"
elif [ -d "$demo" ] && [ -n "$(ls -A "$demo")" ]; then
  echo "demo: $demo holds files the demo did not make; it is left alone. Choose an empty or new DEMO_DIR" >&2
  exit 1
fi
mkdir -p "$demo/drivers" "$demo/out"
touch "$demo/$marker"
softkey=./build/bin/softkey
"$softkey" --store "$demo/store" store init
# SOFTKEY_STORE, TESSAL_USB_SYSFS and TESSAL_DRIVER_DIR for the demo's own store and drivers.
eval "$("$softkey" --store "$demo/store" env --drivers "$demo/drivers")"
export TESSAL_LOG_FILE="${TESSAL_LOG_FILE:-$demo/ZYKUKeyDriver.log}"
builtin=tessal/certs/builtin

echo "== the local cloud services (time-stamps, certificate issuance)"
./build/bin/cloudsim --state "$demo/cloudsim" --port 0 --port-file "$demo/cloudsim.port" > "$demo/cloudsim.log" 2>&1 &
cloudsim=$!
trap 'kill $cloudsim 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$demo/cloudsim.port" ] && break; sleep 0.1; done
export TESSAL_CONNECT_TO="::127.0.0.1:$(cat "$demo/cloudsim.port")"
export TESSAL_CA_FILE="$demo/cloudsim/ca.pem"
cat "$demo/cloudsim.log"

echo "== software keys on a virtual USB bus"
"$softkey" create --serial DEMO0001 --vid 1EA8 --pid C109 --label "Demo RSA key"
"$softkey" container create DEMO0001 CntRSA rsa2048
"$softkey" container pubkey DEMO0001 CntRSA sign "$demo/rsa.pub.pem"
# A certificate for the key's own public key, issued under the development stand-in "SHECA G2".
openssl x509 -new -force_pubkey "$demo/rsa.pub.pem" -subj "/C=CN/O=Demo Org/CN=Demo User" \
  -CA "$builtin/dev-standin-sheca-g2.pem" -CAkey "$builtin/test-only-keys/dev-standin-sheca-g2.key" \
  -set_serial 0x0A10FF -days 365 -sha256 -out "$demo/rsa.cert.pem"
"$softkey" cert import DEMO0001 CntRSA sign "$demo/rsa.cert.pem"
"$softkey" install-driver --root "$TESSAL_DRIVER_DIR" --name EsZYKEBankCspV2.dll

"$softkey" create --serial DEMO0002 --vid 1D99 --pid 0001 --label "Demo SM2 key"
"$softkey" container create DEMO0002 CntSM2 sm2
"$softkey" container pubkey DEMO0002 CntSM2 sign "$demo/sm2.pub.pem"
"$softkey" install-driver --root "$TESSAL_DRIVER_DIR" --name SKF_APP.dll --family "SDCA&HNCA"

# A key with a key pair and no certificate: the demo applies for one at cloudsim.
"$softkey" create --serial DEMO0003 --vid 1EA8 --pid C109 --label "Demo applicant key"
"$softkey" container create DEMO0003 Factory rsa2048
echo
echo "== a host using libtessal"
./build/bin/tessal-demo "$softkey" "$demo/out" | grep -v '^end initFunclist$\|^in VUV_rsa_priv_enc$\|^gNIDs'
echo
echo "== the signatures, checked by the openssl command line"
openssl cms -verify -binary -inform DER -in "$demo/out/document.p7s" -content "$demo/out/document.txt" \
  -CAfile "$builtin/dev-standin-uca-root-g2.pem" -purpose any -out /dev/null
openssl cms -cmsout -print -inform DER -in "$demo/out/document.p7s" | grep -m1 -o 'id-smime-aa-timeStampToken' \
  | sed 's/^/PKCS#7 carries a time-stamp token: /'
openssl cms -verify -binary -inform DER -in "$demo/out/applied.p7s" -content "$demo/out/document.txt" \
  -CAfile "$demo/cloudsim/issuing-rsa-ca.pem" -partial_chain -purpose any -out /dev/null
openssl dgst -sm3 -verify "$demo/sm2.pub.pem" -sigopt distid:1234567812345678 \
  -signature "$demo/out/seal.sig" "$demo/out/seal.txt"
echo
echo "last lines of $TESSAL_LOG_FILE:"
tail -n 3 "$TESSAL_LOG_FILE"
echo
echo "== an office document converted to PDF for signing"
mkdir -p "$demo/convert"
cp demo/sample.rtf "$demo/convert/contract.rtf"
# The converter's exit code is its result code: 1 is success.
rc=0
XDG_CACHE_HOME="$demo/cache" ./build/bin/parlux "$demo/convert/contract.rtf" "$demo/convert/contract.pdf" || rc=$?
if [ "$rc" -eq 1 ]; then
  echo "converted demo/sample.rtf to $demo/convert/contract.pdf ($(stat -c %s "$demo/convert/contract.pdf") bytes)"
  command -v pdftotext > /dev/null && pdftotext "$demo/convert/contract.pdf" - | head -n 3
else
  echo "parlux could not convert the sample (exit $rc): see build/bin/Logs/convertLog.txt"
fi
