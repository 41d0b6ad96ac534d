# What `cmake --install` puts under the prefix, and the Debian package that
# cpack makes of it (scripts/package). Only the two programs and their
# desktop files are installed: tools, tests and benchmarks stay in the build.
if(WIN32)
  return()
endif()

include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(PARVANE_PACKAGE_MAINTAINER
    "Parvane maintainers <maintainers@users.noreply.c-seed-d1d2cbcb.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(_generated ${PROJECT_BINARY_DIR}/packaging)
set(_doc ${CMAKE_INSTALL_DATADIR}/doc/parvane)

# Manual pages and the changelog go in compressed, as Debian wants them;
# -n leaves the name and time out, so that the same input gives the same bytes.
find_program(PARVANE_GZIP gzip REQUIRED)
set(_compressed)
function(_parvane_gzip source target)
  add_custom_command(OUTPUT ${target}
    COMMAND ${PARVANE_GZIP} -9nc ${source} > ${target}
    DEPENDS ${source}
    VERBATIM)
  set(_compressed ${_compressed} ${target} PARENT_SCOPE)
endfunction()

set(_manpages parvane-cli)
if(PARVANE_GUI)
  list(APPEND _manpages parvane)
endif()
foreach(page IN LISTS _manpages)
  configure_file(${_packaging}/man/${page}.1.in ${_generated}/${page}.1 @ONLY)
  _parvane_gzip(${_generated}/${page}.1 ${_generated}/${page}.1.gz)
  install(FILES ${_generated}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
_parvane_gzip(${_packaging}/changelog ${_generated}/changelog.gz)
add_custom_target(parvane_package_files ALL DEPENDS ${_compressed})

install(TARGETS parvane-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(PARVANE_GUI)
  install(TARGETS parvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${_packaging}/parvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The icon in every size the window draws, under the theme every desktop reads.
  foreach(size 16 24 32 48 256)
    install(FILES ${PROJECT_SOURCE_DIR}/src/app/resources/icons/parvane-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME parvane.png)
  endforeach()
endif()
install(FILES ${_packaging}/copyright ${_generated}/changelog.gz DESTINATION ${_doc})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${_doc})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME parvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "import Outlook .msg files into a new .pst file")
# The synopsis line is the summary above; this is the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Parvane imports Outlook message files (.msg) into a new Unicode Outlook
personal folders file (.pst), whose folder tree mirrors where the files lie
on disk. It needs neither Outlook nor any outside mail library: its own
engine reads the message files and writes the store.

The package holds the window (parvane) and the command-line converter
(parvane-cli).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PARVANE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: the packages of the libraries the programs link, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's captions are measured for Tahoma; where it is missing they are
# set in DejaVu Sans narrowed to its width. Nothing links a font, so it is named here.
if(PARVANE_GUI)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-dejavu-core)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
