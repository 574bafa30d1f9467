# Seeds of the time_stamp, ocsp and crl targets, sourced by scripts/fuzz.sh (which defines
# BUILD, SHARED_CORPUS and seed). Answers are made with the openssl command line in a temporary
# directory: a time-stamp authority with a throwaway key, and the two certification authorities
# (RSA, SM2) of build-fuzz/pki that the revocation targets read, made once and kept so the
# corpus stays meaningful between runs. Answers carry times and fresh signatures, so a target
# is seeded only while its corpus holds no seeds yet.

fuzz_unseeded() {  # fuzz_unseeded TARGET: true when the target's corpus has no seed files
  ! compgen -G "$BUILD/corpus/$1/seed-*" >/dev/null
}

fuzz_pki_script=tessal/tests/fixtures/revocation_pki.sh
for alg in rsa sm2; do
  dir="$BUILD/pki/$alg"
  if [ ! -f "$dir/leaf.pem" ]; then
    # Answers about the authorities made before are about other keys now.
    rm -rf "$dir" "$BUILD/corpus/ocsp" "$BUILD/corpus/crl"
    bash "$fuzz_pki_script" ca "$dir" "$alg" "Fuzz $alg CA"
    bash "$fuzz_pki_script" leaf "$dir" 3003 "$dir/leaf.pem"
  fi
done

fuzz_seed_tmp=$(mktemp -d)

# Time-stamp answers: granted (RSA and SM2 signers, with and without nonce and certificates) and
# rejected (a digest the authority does not accept).
seed_time_stamps() {
  local t=$1 alg
  for alg in rsa sm2; do
    local key="$t/tsa-$alg.key" md=sha256
    if [ "$alg" = sm2 ]; then
      openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out "$key" 2>/dev/null
      md=sm3
    else
      openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$key" 2>/dev/null
    fi
    openssl req -new -x509 -key "$key" -subj "/CN=Fuzz $alg TSA" -days 30 -"$md" \
      -addext "extendedKeyUsage=critical,timeStamping" -out "$t/tsa-$alg.pem" 2>/dev/null || continue
    printf '[tsa]\ndefault_tsa = own\n[own]\nserial = %s\nsigner_cert = %s\nsigner_key = %s\nsigner_digest = %s\ndefault_policy = 1.2.3.4.1\nother_policies = 1.2.3.4.5\ndigests = sha1, sha256, sm3\naccuracy = secs:1, millisecs:500\nordering = yes\ntsa_name = yes\ness_cert_id_alg = sha1\n' \
      "$t/serial-$alg" "$t/tsa-$alg.pem" "$key" "$md" >"$t/tsa-$alg.cnf"
    echo 01 >"$t/serial-$alg"
    printf 'signature value' >"$t/data"
    local n=0 query
    for query in "-sha1 -cert" "-sm3 -cert" "-sha256 -no_nonce" "-md5 -cert"; do
      n=$((n + 1))
      # shellcheck disable=SC2086
      openssl ts -query -data "$t/data" $query -out "$t/q-$alg-$n.tsq" 2>/dev/null || continue
      openssl ts -reply -config "$t/tsa-$alg.cnf" -queryfile "$t/q-$alg-$n.tsq" -out "$t/r-$alg-$n.tsr" 2>/dev/null || true
    done
  done
  seed time_stamp "$t"/r-*.tsr
}

# OCSP answers for the leaf (serial 3003): good, revoked and unknown, signed by the CA, by its
# delegated responder, by a certificate of the CA without the OCSP signing usage and by a key
# under the CA's name, with and without a nonce; and bare error statuses.
seed_ocsp() {
  local t=$1 alg
  for alg in rsa sm2; do
    local dir="$BUILD/pki/$alg" rsign=() status signer nonce
    [ "$alg" = sm2 ] && rsign=(-rmd sm3 -rsigopt distid:1234567812345678)
    for nonce in -nonce -no_nonce; do
      openssl ocsp -issuer "$dir/ca.pem" -cert "$dir/leaf.pem" "$nonce" -reqout "$t/req-$alg$nonce.der" 2>/dev/null
    done
    for status in V R X; do
      : >"$t/index-$status"
      [ "$status" = X ] || printf '%s\t491231235959Z\t%s\t3003\tunknown\t/CN=leaf 3003\n' "$status" \
        "$([ "$status" = R ] && echo 260101000000Z,keyCompromise)" >"$t/index-$status"
      for signer in ca signer noeku rogue; do
        for nonce in -nonce -no_nonce; do
          openssl ocsp -index "$t/index-$status" -CA "$dir/ca.pem" -rsigner "$dir/$signer.pem" -rkey "$dir/$signer.key" \
            "${rsign[@]}" -reqin "$t/req-$alg$nonce.der" -respout "$t/resp-$alg-$status-$signer$nonce.der" \
            -ndays 36500 2>/dev/null || true
        done
      done
    done
  done
  printf '\x30\x03\x0a\x01\x03' >"$t/resp-try-later.der"
  printf '\x30\x03\x0a\x01\x01' >"$t/resp-malformed.der"
  seed ocsp "$t"/resp-*.der
}

# CRLs of both authorities listing the leaf or not, one signed by another key, one whose
# nextUpdate passes a second after it is made, and the corpus's.
seed_crls() {
  local t=$1 alg
  for alg in rsa sm2; do
    local dir="$BUILD/pki/$alg"
    printf 'R\t491231235959Z\t260101000000Z,keyCompromise\t3003\tunknown\t/CN=leaf 3003\nR\t491231235959Z\t250101000000Z\t3001\tunknown\t/CN=leaf 3001\n' \
      >"$t/index-listing"
    : >"$t/index-empty"
    bash "$fuzz_pki_script" crl "$dir" "$t/index-listing" "$t/crl-$alg-listing.der" ca || true
    bash "$fuzz_pki_script" crl "$dir" "$t/index-empty" "$t/crl-$alg-empty.der" ca || true
    bash "$fuzz_pki_script" crl "$dir" "$t/index-listing" "$t/crl-$alg-rogue.der" rogue || true
    bash "$fuzz_pki_script" crl "$dir" "$t/index-listing" "$t/crl-$alg-expiring.der" ca -crlsec 1 || true
  done
  local f
  for f in "$SHARED_CORPUS"/certs/*.crl "$SHARED_CORPUS"/certs/crl-*; do
    [ -f "$f" ] || continue
    openssl crl -in "$f" -outform DER -out "$t/corpus-$(basename "$f").der" 2>/dev/null ||
      openssl crl -inform DER -in "$f" -outform DER -out "$t/corpus-$(basename "$f").der" 2>/dev/null || true
  done
  seed crl "$t"/crl-*.der "$t"/corpus-*.der
}

fuzz_unseeded time_stamp && seed_time_stamps "$fuzz_seed_tmp"
fuzz_unseeded ocsp && seed_ocsp "$fuzz_seed_tmp"
fuzz_unseeded crl && seed_crls "$fuzz_seed_tmp"
rm -rf "$fuzz_seed_tmp"
