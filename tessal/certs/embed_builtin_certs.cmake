# Embeds the built-in certificates (PEM files in builtin/) into a generated source file.
# For each role (the public CA pair and the tamper-evidence CAs) the publisher's file ROLE.pem
# is used when present, else the development stand-in dev-standin-ROLE.pem.
function(tessal_pem_base64 file out)
  file(STRINGS ${file} lines)
  set(text "")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^-----")
      string(STRIP "${line}" line)
      string(APPEND text "${line}")
    endif()
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The Base64 text of the file that plays `role`; a publisher's file added later is picked up at
# the next build.
function(tessal_builtin_cert_text builtin_dir role out)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${builtin_dir})
  if(EXISTS ${builtin_dir}/${role}.pem)
    set(file ${builtin_dir}/${role}.pem)
  else()
    set(file ${builtin_dir}/dev-standin-${role}.pem)
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  tessal_pem_base64(${file} text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(tessal_embed_builtin_certs builtin_dir output)
  set(ca_texts "")
  foreach(role sheca-g2 uca-root-g2)
    tessal_builtin_cert_text(${builtin_dir} ${role} text)
    string(APPEND ca_texts "    \"${text}\",\n")
  endforeach()
  foreach(alg rsa sm2)
    tessal_builtin_cert_text(${builtin_dir} tamper-ca-${alg} tamper_${alg})
  endforeach()
  file(WRITE ${output}.new
"// Generated from tessal/certs/builtin/ at configure time; do not edit.
#include \"certs/builtin_certs.h\"

const char* const kBuiltinCaCertificates[kBuiltinCaCertificateCount] = {
${ca_texts}};

const char kRsaTamperCertBase64[] = \"${tamper_rsa}\";
const char kSm2TamperCertBase64[] = \"${tamper_sm2}\";
")
  file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
endfunction()
