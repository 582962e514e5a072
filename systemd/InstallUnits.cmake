# Runs at install time (install(CODE) in CMakeLists.txt): writes the systemd units for the
# prefix given to `cmake --install` (--prefix), under $DESTDIR when it is set. Expects
# KESTRIX_UNIT_SOURCE, KESTRIX_BINDIR and KESTRIX_UNIT_DIR (relative to the prefix, or
# absolute).
foreach(_dir KESTRIX_BINDIR KESTRIX_UNIT_DIR)
  if(NOT IS_ABSOLUTE "${${_dir}}")
    set(${_dir} "${CMAKE_INSTALL_PREFIX}/${${_dir}}")
  endif()
endforeach()
foreach(_unit kestrix.service kestrix-server.service)
  set(_to "$ENV{DESTDIR}${KESTRIX_UNIT_DIR}/${_unit}")
  message(STATUS "Installing: ${_to}")
  configure_file("${KESTRIX_UNIT_SOURCE}/${_unit}.in" "${_to}" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${KESTRIX_UNIT_DIR}/${_unit}")
endforeach()
