# Embeds the built-in certificates (PEM files in builtin/) into a generated source file.
# For each CA role the publisher's file ROLE.pem is used when present, else the development
# stand-in dev-standin-ROLE.pem.
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

function(tessal_embed_builtin_certs builtin_dir output)
  set(ca_texts "")
  foreach(role sheca-g2 uca-root-g2)
    if(EXISTS ${builtin_dir}/${role}.pem)
      set(file ${builtin_dir}/${role}.pem)
    else()
      set(file ${builtin_dir}/dev-standin-${role}.pem)
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
    tessal_pem_base64(${file} text)
    string(APPEND ca_texts "    \"${text}\",\n")
  endforeach()
  foreach(alg rsa sm2)
    set(file ${builtin_dir}/tamper-ca-${alg}.pem)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
    tessal_pem_base64(${file} tamper_${alg})
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
