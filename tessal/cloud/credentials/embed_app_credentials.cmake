# Embeds the application credentials of the cloud gateway and the mobile seal service.
# libtessal and cloudsim both generate their copy from the same file, so the two sides agree.
# A deployment names its own file with -DKIT_APP_CREDENTIALS_FILE=...; the repository's file
# holds development values only.
set(KIT_APP_CREDENTIALS_FILE ${CMAKE_CURRENT_LIST_DIR}/dev-app-credentials.txt CACHE FILEPATH
  "Application credentials (gateway and mobile key/secret pairs) built into libtessal and cloudsim")

function(kit_masked_bytes text out)
  string(HEX "${text}" hex)
  string(LENGTH "${hex}" length)
  set(bytes "")
  set(i 0)
  while(i LESS length)
    string(SUBSTRING "${hex}" ${i} 2 byte)
    math(EXPR masked "0x${byte} ^ 0xA5" OUTPUT_FORMAT HEXADECIMAL)
    list(APPEND bytes ${masked})
    math(EXPR i "${i} + 2")
  endwhile()
  list(JOIN bytes ", " joined)
  set(${out} "{${joined}}" PARENT_SCOPE)
endfunction()

# Writes `output` (a header) with the pairs of KIT_APP_CREDENTIALS_FILE; stops the configure
# step with a message when the file is missing or malformed.
function(kit_embed_app_credentials output)
  set(file ${KIT_APP_CREDENTIALS_FILE})
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "KIT_APP_CREDENTIALS_FILE: ${file} does not exist")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(STRINGS ${file} lines)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*(#|$)")
      continue()
    endif()
    if(NOT line MATCHES "^(gateway|mobile) ([1-4]) ([A-Za-z0-9]+) ([A-Za-z0-9]+)[ \t]*$")
      message(FATAL_ERROR "${file}: not a credential line: ${line}")
    endif()
    set(set ${CMAKE_MATCH_1})
    set(pair ${CMAKE_MATCH_2})
    set(key ${CMAKE_MATCH_3})
    set(secret ${CMAKE_MATCH_4})
    string(LENGTH "${key}" key_length)
    string(LENGTH "${secret}" secret_length)
    if(NOT key_length EQUAL 10 OR NOT secret_length EQUAL 30)
      message(FATAL_ERROR "${file}: ${set} pair ${pair}: the key needs 10 and the secret 30 letters and digits")
    endif()
    if(set STREQUAL "gateway" AND pair EQUAL 4)
      message(FATAL_ERROR "${file}: the gateway set has pairs 1 to 3 only")
    endif()
    if(DEFINED entry_${set}_${pair})
      message(FATAL_ERROR "${file}: ${set} pair ${pair} is given twice")
    endif()
    kit_masked_bytes("${key}" masked_key)
    kit_masked_bytes("${secret}" masked_secret)
    set(entry_${set}_${pair} "    {${masked_key}, ${masked_secret}},\n")
  endforeach()
  set(gateway_entries "")
  set(mobile_entries "")
  foreach(set_and_count gateway:3 mobile:4)
    string(REPLACE ":" ";" parts ${set_and_count})
    list(GET parts 0 set)
    list(GET parts 1 count)
    foreach(pair RANGE 1 ${count})
      if(NOT DEFINED entry_${set}_${pair})
        message(FATAL_ERROR "${file}: ${set} pair ${pair} is missing")
      endif()
      string(APPEND ${set}_entries "${entry_${set}_${pair}}")
    endforeach()
  endforeach()
  get_filename_component(file_name ${file} NAME)
  file(WRITE ${output}.new
"// Generated from ${file_name} at configure time; do not edit.
#pragma once

#include <cstddef>
#include <string>

namespace app_credentials {

// Values are kept XOR-masked so that the secrets do not stand in the binary as text.
struct MaskedPair {
    unsigned char key[10];
    unsigned char secret[30];
};

constexpr MaskedPair kGatewayPairs[3] = {
${gateway_entries}};

constexpr MaskedPair kMobilePairs[4] = {
${mobile_entries}};

template <std::size_t N>
std::string Unmask(const unsigned char (&bytes)[N]) {
    std::string text(N, '\\0');
    for (std::size_t i = 0; i < N; ++i) text[i] = static_cast<char>(bytes[i] ^ 0xA5);
    return text;
}

}  // namespace app_credentials
")
  file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
endfunction()
