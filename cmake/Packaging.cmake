# The Debian package: `cpack -G DEB` in the build folder (scripts/package.sh does it all).
# Installs what `cmake --install` installs plus man pages, AppStream metadata and the Debian
# documentation files, under /usr.

set(KV_PACKAGE_MAINTAINER "Kestrovane developers <developers@kestrovane.org>"
    CACHE STRING "Maintainer named in the Debian package and its changelog")

# Debian wants man pages and the changelog gzip-compressed, without a time stamp (-n) so that
# the package is reproducible.
function(kv_install_gzipped source destination)
  get_filename_component(name ${source} NAME)
  set(compressed ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(
    OUTPUT ${compressed}
    COMMAND gzip -9 -n -c ${source} > ${compressed}
    DEPENDS ${source}
    COMMENT "Compressing ${name}")
  list(APPEND KV_GZIPPED_FILES ${compressed})
  set(KV_GZIPPED_FILES ${KV_GZIPPED_FILES} PARENT_SCOPE)
  install(FILES ${compressed} DESTINATION ${destination})
endfunction()

set(KV_GZIPPED_FILES "")
foreach(page kestrovane kestrovane-analyze kestrovane-graph)
  kv_install_gzipped(${CMAKE_SOURCE_DIR}/man/${page}.1 share/man/man1)
endforeach()

set(KV_DEBIAN_DOC ${CMAKE_BINARY_DIR}/packaging/debian)
configure_file(${CMAKE_SOURCE_DIR}/src/resources/debian/copyright ${KV_DEBIAN_DOC}/copyright @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/src/resources/debian/changelog ${KV_DEBIAN_DOC}/changelog @ONLY)
install(FILES ${KV_DEBIAN_DOC}/copyright DESTINATION share/doc/kestrovane)
kv_install_gzipped(${KV_DEBIAN_DOC}/changelog share/doc/kestrovane)
add_custom_target(kestrovane_packaging_files ALL DEPENDS ${KV_GZIPPED_FILES})

install(FILES ${CMAKE_SOURCE_DIR}/src/resources/org.kestrovane.Kestrovane.metainfo.xml
        DESTINATION share/metainfo)
# The README's pictures, where the README installed beside them expects them; the user guide's
# own pages and pictures go to share/kestrovane/guide (src/CMakeLists.txt).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION share/doc/kestrovane/docs
        FILES_MATCHING PATTERN "*.png" PATTERN "guide" EXCLUDE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrovane)
set(CPACK_PACKAGE_VENDOR "The Kestrovane developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "timegrapher: measures a watch or clock from its ticks")
# Lines of at most 79 characters: the control file indents each by one space, lintian allows 80.
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrovane finds every tick of a watch or clock in the sound of a microphone\n"
    "or contact pickup and measures the rate in seconds per day, the beat error in\n"
    "milliseconds and the balance amplitude in degrees, as hardware timegraphers\n"
    "do. It logs readings, draws long-term graphs, runs positional series,\n"
    "calibrates the sound card's clock and records and plays back the raw sound.\n"
    "The command-line tools kestrovane-analyze and kestrovane-graph measure\n"
    "recordings and draw logs.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "${KV_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the libraries the binaries link (dpkg-shlibdeps), never by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
