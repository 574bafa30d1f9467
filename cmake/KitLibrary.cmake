# Shared libraries of the kit: a linker version script names the exports, and the install puts
# the library, its public headers (include/NAME) and a relocatable NAME.pc in place.

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
# configure time, they install from a tree that was configured only.
set(KIT_DEVELOPMENT_COMPONENT development)

# NAME.pc.in beside the caller's CMakeLists.txt; it uses @PC_TO_PREFIX@ for its prefix.
function(kit_install_library target name)
  install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/${name} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    COMPONENT ${KIT_DEVELOPMENT_COMPONENT} PATTERN "*.in" EXCLUDE)
  # The .pc file finds its prefix from its own place, so the installed tree can move.
  file(RELATIVE_PATH PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/${name}.pc.in ${CMAKE_BINARY_DIR}/${name}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/${name}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT ${KIT_DEVELOPMENT_COMPONENT})
endfunction()

# tessalConfig.cmake and its version file, beside the .pc files' directory, for
# find_package(tessal CONFIG).
function(kit_install_cmake_package)
  set(dir ${CMAKE_INSTALL_LIBDIR}/cmake/tessal)
  file(RELATIVE_PATH CONFIG_TO_PREFIX "/prefix/${dir}" "/prefix")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/tessalConfig.cmake.in ${CMAKE_BINARY_DIR}/tessalConfig.cmake @ONLY)
  include(CMakePackageConfigHelpers)
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/tessalConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/tessalConfig.cmake ${CMAKE_BINARY_DIR}/tessalConfigVersion.cmake
    DESTINATION ${dir} COMPONENT ${KIT_DEVELOPMENT_COMPONENT})
endfunction()
