# log4cplus as the imported target log4cplus::log4cplus, for the kit's build and for hosts of the
# installed kit: log4cplus's own CMake package, else its header and library found directly.
# Leaves the target undefined when neither is there, with the reason in
# TESSAL_LOG4CPLUS_NOT_FOUND.
if(NOT TARGET log4cplus::log4cplus)
  find_package(log4cplus CONFIG QUIET)
endif()
if(NOT TARGET log4cplus::log4cplus)
  find_path(TESSAL_LOG4CPLUS_INCLUDE_DIR log4cplus/logger.h)
  find_library(TESSAL_LOG4CPLUS_LIBRARY NAMES log4cplus)
  if(TESSAL_LOG4CPLUS_INCLUDE_DIR AND TESSAL_LOG4CPLUS_LIBRARY)
    add_library(log4cplus::log4cplus UNKNOWN IMPORTED)
    set_target_properties(log4cplus::log4cplus PROPERTIES
      IMPORTED_LOCATION "${TESSAL_LOG4CPLUS_LIBRARY}"
      INTERFACE_INCLUDE_DIRECTORIES "${TESSAL_LOG4CPLUS_INCLUDE_DIR}")
  endif()
endif()

set(TESSAL_LOG4CPLUS_NOT_FOUND "")
if(NOT TARGET log4cplus::log4cplus)
  set(TESSAL_LOG4CPLUS_NOT_FOUND
    "log4cplus not found: neither its CMake package (log4cplusConfig.cmake) nor log4cplus/logger.h and its library (Debian: liblog4cplus-dev)")
else()
  # The files its package names (Debian's lists libnsl.so, from libnsl-dev) must exist, or
  # linking would fail later with a less clear message.
  get_target_property(_tessal_log4cplus_links log4cplus::log4cplus INTERFACE_LINK_LIBRARIES)
  foreach(_tessal_file IN LISTS _tessal_log4cplus_links)
    if(IS_ABSOLUTE "${_tessal_file}" AND NOT EXISTS "${_tessal_file}")
      set(TESSAL_LOG4CPLUS_NOT_FOUND "log4cplus's CMake package needs ${_tessal_file}, which does not exist")
    endif()
  endforeach()
  unset(_tessal_file)
  unset(_tessal_log4cplus_links)
endif()
