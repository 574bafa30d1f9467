#!/usr/bin/env bash
# Generates the built-in certificate data of this repository with the openssl command line:
#  - development stand-ins for the public CA pair "UCA Root G2" / "SHECA G2" (same subjects,
#    validity periods, key sizes and algorithms as the publisher's; replace them with the
#    publisher's PEM files, keeping the file names' roles, for production builds);
#  - stand-ins for the tamper-evidence CA certificates (RSA 2048 and SM2); the operator's own
#    files, named tamper-ca-rsa.pem and tamper-ca-sm2.pem, take precedence in release builds.
# Private keys go to test-only-keys/, which is used by tests and demos only and never shipped.
set -euo pipefail
cd "$(dirname "$0")"
keys=test-only-keys
mkdir -p "$keys"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/ca.cnf" <<'CNF'
[ ca ]
default_ca = local
[ local ]
dir = WORK
database = $dir/index.txt
new_certs_dir = $dir
serial = $dir/serial
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[ any ]
countryName = optional
organizationName = optional
commonName = supplied
[ root_ext ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ sub_ext ]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, digitalSignature, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
CNF
sed -i "s|WORK|$work|" "$work/ca.cnf"
: > "$work/index.txt"
echo 1000 > "$work/serial"

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$keys/dev-standin-uca-root-g2.key" 2>/dev/null
openssl req -new -key "$keys/dev-standin-uca-root-g2.key" -subj "/C=CN/O=UniTrust/CN=UCA Root G2" -out "$work/root.csr"
openssl ca -batch -config "$work/ca.cnf" -selfsign -keyfile "$keys/dev-standin-uca-root-g2.key" \
  -startdate 20160901000000Z -enddate 20361231235959Z -extensions root_ext -notext \
  -in "$work/root.csr" -out dev-standin-uca-root-g2.pem 2>/dev/null

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$keys/dev-standin-sheca-g2.key" 2>/dev/null
openssl req -new -key "$keys/dev-standin-sheca-g2.key" -subj "/C=CN/O=UniTrust/CN=SHECA G2" -out "$work/sub.csr"
openssl ca -batch -config "$work/ca.cnf" -cert dev-standin-uca-root-g2.pem -keyfile "$keys/dev-standin-uca-root-g2.key" \
  -startdate 20160907000000Z -enddate 20291231235959Z -extensions sub_ext -notext \
  -in "$work/sub.csr" -out dev-standin-sheca-g2.pem 2>/dev/null

tamper_ext=(-addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,digitalSignature,keyCertSign,cRLSign"
            -addext "subjectKeyIdentifier=hash")
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$keys/tamper-ca-rsa.key" 2>/dev/null
openssl req -x509 -new -key "$keys/tamper-ca-rsa.key" -sha256 -days 7300 \
  -subj "/C=CN/O=Tessal Operator/CN=Tessal Tamper-Evidence CA RSA" "${tamper_ext[@]}" -out dev-standin-tamper-ca-rsa.pem
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out "$keys/tamper-ca-sm2.key" 2>/dev/null
openssl req -x509 -new -key "$keys/tamper-ca-sm2.key" -sm3 -sigopt distid:1234567812345678 -days 7300 \
  -subj "/C=CN/O=Tessal Operator/CN=Tessal Tamper-Evidence CA SM2" "${tamper_ext[@]}" -out dev-standin-tamper-ca-sm2.pem
echo "built-in certificates written to $(pwd)"
