# The publisher's certificate files take precedence over the development stand-ins.
#   cmake -DSOURCE_DIR=<tessal/certs> -DWORK_DIR=<scratch> -P check_builtin_certs.cmake
include(${SOURCE_DIR}/embed_builtin_certs.cmake)

function(expect_text output role file)
  tessal_pem_base64(${file} text)
  string(FIND "${output}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${role}: ${file} was not embedded")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/builtin)
file(GLOB standins ${SOURCE_DIR}/builtin/dev-standin-*.pem)
file(COPY ${standins} DESTINATION ${WORK_DIR}/builtin)
set(dir ${WORK_DIR}/builtin)

# Only stand-ins: every role takes its stand-in.
tessal_embed_builtin_certs(${dir} ${WORK_DIR}/standins.cpp)
file(READ ${WORK_DIR}/standins.cpp output)
foreach(role sheca-g2 uca-root-g2 tamper-ca-rsa tamper-ca-sm2)
  expect_text("${output}" ${role} ${dir}/dev-standin-${role}.pem)
endforeach()

# Publisher's files (any other certificates will do here) replace the stand-ins of their roles.
file(COPY_FILE ${dir}/dev-standin-uca-root-g2.pem ${dir}/tamper-ca-rsa.pem)
file(COPY_FILE ${dir}/dev-standin-sheca-g2.pem ${dir}/tamper-ca-sm2.pem)
file(COPY_FILE ${dir}/dev-standin-tamper-ca-rsa.pem ${dir}/sheca-g2.pem)
tessal_embed_builtin_certs(${dir} ${WORK_DIR}/publisher.cpp)
file(READ ${WORK_DIR}/publisher.cpp output)
string(REGEX MATCH "kRsaTamperCertBase64\\[\\] = \"[^\"]*\"" rsa "${output}")
string(REGEX MATCH "kSm2TamperCertBase64\\[\\] = \"[^\"]*\"" sm2 "${output}")
string(REGEX MATCH "kBuiltinCaCertificates[^;]*;" cas "${output}")
expect_text("${rsa}" tamper-ca-rsa ${dir}/tamper-ca-rsa.pem)
expect_text("${sm2}" tamper-ca-sm2 ${dir}/tamper-ca-sm2.pem)
expect_text("${cas}" sheca-g2 ${dir}/sheca-g2.pem)
expect_text("${cas}" uca-root-g2 ${dir}/dev-standin-uca-root-g2.pem)
message(STATUS "publisher files take precedence")
