# Checks the source tree's layering and shared helpers:
# - nothing under vornic/ includes a header of tessal/ (libtessal links libvornic, not the reverse);
# - bytes are written as hexadecimal only by kit/hex, and UTF-8 is encoded and decoded only by
#   kit/utf8 (tests may keep independent oracles).
# Run as: cmake -DSOURCE_DIR=<root of the tree> -P check_single_helpers.cmake
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR not set")
endif()

set(problems "")

# Vornic: every quoted or angled include must not name a file of tessal/.
file(GLOB_RECURSE vornic_sources ${SOURCE_DIR}/vornic/*.c ${SOURCE_DIR}/vornic/*.cpp ${SOURCE_DIR}/vornic/*.h)
foreach(source ${vornic_sources})
  file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"].*" "\\1" header "${line}")
    if(header MATCHES "^tessal/" OR EXISTS ${SOURCE_DIR}/tessal/${header} OR EXISTS ${SOURCE_DIR}/tessal/include/${header})
      string(APPEND problems "  ${source}: includes ${header}, a header of tessal/\n")
    endif()
  endforeach()
endforeach()
file(GLOB_RECURSE vornic_lists ${SOURCE_DIR}/vornic/CMakeLists.txt)
foreach(list ${vornic_lists})
  file(STRINGS ${list} lines REGEX "SOURCE_DIR}/tessal|\\.\\./tessal")
  foreach(line ${lines})
    string(APPEND problems "  ${list}: builds from tessal/: ${line}\n")
  endforeach()
endforeach()

# Hexadecimal writers (a nibble indexing a digit table, printf's %02x) and UTF-8 codecs (the
# two-byte lead's encoding or test) outside the shared helpers.
set(hex_writer ">> *4\\]|%02[xX]")
set(utf8_codec "0xC0 \\| |& 0xE0\\) == 0xC0")
set(source_globs)
foreach(dir tessal vornic cloudsim parlux softkey tools common demo fuzz bench skf)
  list(APPEND source_globs ${SOURCE_DIR}/${dir}/*.c ${SOURCE_DIR}/${dir}/*.cpp ${SOURCE_DIR}/${dir}/*.h)
endforeach()
file(GLOB_RECURSE sources ${source_globs})
foreach(source ${sources})
  file(RELATIVE_PATH relative ${SOURCE_DIR} ${source})
  if(relative MATCHES "(^|/)tests/")
    continue()
  endif()
  if(NOT relative STREQUAL "common/src/hex.cpp")
    file(STRINGS ${source} lines REGEX "${hex_writer}")
    foreach(line ${lines})
      string(APPEND problems "  ${relative}: writes hexadecimal itself (use kit/hex.h): ${line}\n")
    endforeach()
  endif()
  if(NOT relative STREQUAL "common/src/utf8.cpp")
    file(STRINGS ${source} lines REGEX "${utf8_codec}")
    foreach(line ${lines})
      string(APPEND problems "  ${relative}: codes UTF-8 itself (use kit/utf8.h): ${line}\n")
    endforeach()
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "Shared helpers bypassed:\n${problems}")
endif()
message(STATUS "vornic includes no tessal/ header; one hexadecimal writer and one UTF-8 codec")
