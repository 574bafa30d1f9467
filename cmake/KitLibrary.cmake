# Shared libraries of the kit: a linker version script names the exports, and the install puts
# the library, its public headers (include/NAME), NAME.pc and the CMake package in place.

# On Windows the export table holds what the sources mark __declspec(dllexport); `windows_def`, when
# given, adds the lines of a module-definition file (names under other spellings).
function(kit_library_exports target exports_map)
  if(WIN32)
    if(ARGC GREATER 2)
      target_sources(${target} PRIVATE ${ARGV2})
    endif()
    return()
  endif()
  target_link_options(${target} PRIVATE ${KIT_NO_UNDEFINED} -Wl,--version-script=${exports_map})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${exports_map})
  set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endfunction()

# The headers, .pc files and CMake package form the install component "development": made at
# configure time (the .pc files completed when installing), they install from a tree that was
# configured only.
set(KIT_DEVELOPMENT_COMPONENT development)

# NAME.pc.in beside the caller's CMakeLists.txt; its "prefix=@KIT_PC_PREFIX@" becomes the prefix
# the tree is installed to (`cmake --install --prefix` included), without DESTDIR.
function(kit_install_library target name)
  install(TARGETS ${target} EXPORT tessalTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/${name} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    COMPONENT ${KIT_DEVELOPMENT_COMPONENT} PATTERN "*.in" EXCLUDE)
  set(KIT_PC_PREFIX "@KIT_PC_PREFIX@")  # kept for the install step
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/${name}.pc.in ${CMAKE_BINARY_DIR}/${name}.pc.in @ONLY)
  install(CODE "
    set(KIT_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(_kit_pc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/${name}.pc\")
    message(STATUS \"Installing: \${_kit_pc}\")
    configure_file(\"${CMAKE_BINARY_DIR}/${name}.pc.in\" \"\${_kit_pc}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_kit_pc}\")"
    COMPONENT ${KIT_DEVELOPMENT_COMPONENT})
endfunction()

# The CMake package for find_package(tessal CONFIG): tessalConfig.cmake and its version file,
# the exported targets tessal::tessal and tessal::vornic, and the log4cplus lookup it shares with
# this build.
function(kit_install_cmake_package)
  set(dir ${CMAKE_INSTALL_LIBDIR}/cmake/tessal)
  include(CMakePackageConfigHelpers)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tessalConfig.cmake.in
    ${CMAKE_BINARY_DIR}/tessalConfig.cmake INSTALL_DESTINATION ${dir} NO_SET_AND_CHECK_MACRO)
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/tessalConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(EXPORT tessalTargets NAMESPACE tessal:: DESTINATION ${dir} COMPONENT ${KIT_DEVELOPMENT_COMPONENT})
  install(FILES ${CMAKE_BINARY_DIR}/tessalConfig.cmake ${CMAKE_BINARY_DIR}/tessalConfigVersion.cmake
    ${PROJECT_SOURCE_DIR}/cmake/tessalLog4cplus.cmake
    DESTINATION ${dir} COMPONENT ${KIT_DEVELOPMENT_COMPONENT})
endfunction()
