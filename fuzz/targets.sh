# The libFuzzer targets of fuzz/CMakeLists.txt, sourced by scripts/fuzz.sh.
FUZZ_TARGETS=(encodings cert_info signature_der sm2_messages worker_pipe compound_file softkey_store
  chart_sheets skf_blobs worker_args time_stamp ocsp crl cloud_json seals)

# fuzz_target_name NAME: the target's short name ("fuzz_cert_info" and "cert_info" give cert_info);
# fails for a name that is no target.
fuzz_target_name() {
  local name="${1#fuzz_}" t
  for t in "${FUZZ_TARGETS[@]}"; do
    [ "$t" = "$name" ] && { echo "$t"; return 0; }
  done
  return 1
}
