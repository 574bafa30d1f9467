# Seeds of fuzz_sm2_messages as the library makes them, sourced by scripts/fuzz.sh (which
# defines BUILD and seed): a software key with an SM2 certificate under the built-in SM2
# tamper-evidence CA, on a private virtual USB bus, signs through the library's exports with
# cloudsim on loopback as its time service, so the messages carry time-stamp tokens. The SM2
# ciphertext decoder gets an openssl SM2 encryption. Signatures differ at every signing, so this
# runs only while the corpus holds none of them (their names start with "library-").

fuzz_sm2_seeds() {  # fuzz_sm2_seeds TMPDIR
  local t=$1 builtin=tessal/certs/builtin softkey="$BUILD/bin/softkey"
  "$softkey" --store "$t/store" store init >/dev/null
  eval "$("$softkey" --store "$t/store" env --drivers "$t/drivers")"
  export TESSAL_LOG_FILE="$t/tessal.log"
  "$BUILD/bin/cloudsim" --state "$t/cloudsim" --port 0 --port-file "$t/cloudsim.port" >"$t/cloudsim.log" 2>&1 &
  fuzz_cloudsim=$!  # not local: the trap runs when the subshell ends
  trap 'kill "$fuzz_cloudsim" 2>/dev/null || true' EXIT
  local _
  for _ in $(seq 100); do [ -s "$t/cloudsim.port" ] && break; sleep 0.1; done
  export TESSAL_CONNECT_TO="::127.0.0.1:$(cat "$t/cloudsim.port")" TESSAL_CA_FILE="$t/cloudsim/ca.pem"
  "$softkey" create --serial FUZZSM2 --vid 1D99 --pid 0001 --label "Fuzz SM2 key" >/dev/null
  "$softkey" container create FUZZSM2 CntSM2 sm2 >/dev/null
  "$softkey" container pubkey FUZZSM2 CntSM2 sign "$t/sm2.pub.pem" >/dev/null
  openssl x509 -new -force_pubkey "$t/sm2.pub.pem" -subj "/C=CN/O=Fuzz Org/CN=Fuzz SM2 signer" \
    -CA "$builtin/dev-standin-tamper-ca-sm2.pem" -CAkey "$builtin/test-only-keys/tamper-ca-sm2.key" \
    -set_serial 0x5A5A01 -days 365 -sm3 -sigopt distid:1234567812345678 -out "$t/sm2.cert.pem"
  "$softkey" cert import FUZZSM2 CntSM2 sign "$t/sm2.cert.pem" >/dev/null
  "$softkey" install-driver --root "$TESSAL_DRIVER_DIR" --name SKF_APP.dll --family "SDCA&HNCA" >/dev/null
  "$softkey" plug FUZZSM2 >/dev/null
  mkdir -p "$t/out"
  "$BUILD/bin/fuzz_sm2_message_seeds" FUZZSM2 "$t/out" >/dev/null
  printf 'plain text to encrypt' | openssl pkeyutl -encrypt -pubin -inkey "$t/sm2.pub.pem" -out "$t/out/sm2-cipher" 2>/dev/null
}

if ! compgen -G "$BUILD/corpus/sm2_messages/library-*" >/dev/null; then
  fuzz_seed_tmp=$(mktemp -d)
  set +e
  (
    set -e
    fuzz_sm2_seeds "$fuzz_seed_tmp"
  )
  fuzz_seed_status=$?
  set -e
  if [ "$fuzz_seed_status" = 0 ]; then
    mkdir -p "$BUILD/corpus/sm2_messages"
    for f in "$fuzz_seed_tmp"/out/*; do cp "$f" "$BUILD/corpus/sm2_messages/library-$(basename "$f")"; done
    rm -rf "$fuzz_seed_tmp"
  else
    echo "fuzz.sh: no SM2 signed-message seeds (the key's set-up failed, see $fuzz_seed_tmp)" >&2
  fi
fi
