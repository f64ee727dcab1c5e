# Installation and the Debian package: the three programs, the bundled
# spectra with their provenance, and the README.
#
#   cmake --install BUILD --prefix PREFIX
#   PREFIX/bin/tavrick  PREFIX/bin/tavrick-sketch  PREFIX/bin/tavrick-store
#   PREFIX/share/tavrick/data/...  PREFIX/share/doc/tavrick/README.md
#   PREFIX/lib/python3/dist-packages/tavrick/  (the Python module, when built)
include(GNUInstallDirs)

set(TAVRICK_DATA_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/tavrick/data)

# `tavrick-store demo` looks for the spectra beside its own executable first
# (this path, relative to the installed program), then in the source tree.
if(TARGET tavrick_tools)
  file(RELATIVE_PATH _data_from_bin /${CMAKE_INSTALL_BINDIR} /${TAVRICK_DATA_INSTALL_DIR})
  target_compile_definitions(tavrick_tools PRIVATE TAVRICK_DATA_FROM_BIN="${_data_from_bin}")
endif()

foreach(program tavrick tavrick-sketch tavrick-store tavrick-batch)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/ DESTINATION ${TAVRICK_DATA_INSTALL_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# `cpack -G DEB` in the build folder (`make package`): tavrick_VERSION_amd64.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "peak fitter for one-dimensional gamma-ray spectra")
set(CPACK_PACKAGE_DESCRIPTION
    "tavrick fits up to 30 peaks on a polynomial background in spectra of an SQLite spectrum store; tavrick-sketch writes plot scripts of a fit; tavrick-store fills the store from detector files.")
set(CPACK_PACKAGE_CONTACT "tavrick developers <tavrick@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
if(TAVRICK_LINK_KIND STREQUAL "static")
  # Fully static programs need no shared library at all.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
else()
  # The shared libraries the programs load (libc6, libstdc++6, libsqlite3-0,
  # libpugixml1v5), found by dpkg-shlibdeps (package dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
if(TARGET tavrick_python)
  # The Python module is a shared object whatever the programs are: its
  # libraries (libstdc++6, libsqlite3-0, ...) come from dpkg-shlibdeps. The
  # interpreter it was built for and NumPy are recommended, not required, so
  # the programs install without Python.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  string(APPEND CPACK_PACKAGE_DESCRIPTION
         " The Python module tavrick runs the same fits on NumPy arrays and store spectra.")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
      "python3 (>= ${TAVRICK_PYTHON_VERSION}), python3 (<< ${TAVRICK_PYTHON_NEXT}), python3-numpy")
  # The interpreter caches the compiled __init__.py beside it on the first
  # import as root; removal takes that cache too, so the folder goes with it.
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/debian/prerm CONTENT [[#!/bin/sh
set -e
rm -rf "@CPACK_PACKAGING_INSTALL_PREFIX@/@TAVRICK_PYTHON_DIR@/tavrick/__pycache__"
]] @ONLY)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/prerm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)

if(TAVRICK_TESTS AND TARGET tavrick AND TARGET tavrick-store)
  add_test(NAME install_demo
    COMMAND ${PROJECT_SOURCE_DIR}/tests/install_test.sh ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR})
  set_tests_properties(install_demo PROPERTIES LABELS install TIMEOUT 120)
endif()
