# Windows: the DLLs the programs need at run time are copied beside them into bin/ (the
# compiler's runtime and the cross-built dependencies), so the build tree runs under wine as an
# installed kit would. The runtime is shared, not linked statically: on 32-bit Windows a C++
# exception crossing a DLL boundary needs the shared libgcc.
set(kit_runtime_dlls libstdc++-6.dll libwinpthread-1.dll)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND kit_runtime_dlls libgcc_s_dw2-1.dll)
else()
  list(APPEND kit_runtime_dlls libgcc_s_seh-1.dll)
endif()
file(MAKE_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
foreach(dll IN LISTS kit_runtime_dlls)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE path
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "the compiler's runtime ${dll} was not found")
  endif()
  file(COPY ${path} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
endforeach()
foreach(prefix IN LISTS KIT_WINDOWS_PREFIXES)
  file(GLOB dlls ${prefix}/bin/*.dll)
  if(dlls)
    file(COPY ${dlls} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  endif()
endforeach()
