# What `cmake --install` puts under the prefix (bin/quorbel, or bin/quorbel.exe
# on Windows), and the package that CPack makes of the same files: a Debian
# package, or a zip of the prefix on Windows.
include(GNUInstallDirs)

install(TARGETS quorbel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Compressed as Debian compresses man pages (gzip -9n: no name, no time, so
# the same page gives the same bytes); man-db and macOS's man read it alike.
set(QUORBEL_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/quorbel.1.gz)
add_custom_command(OUTPUT ${QUORBEL_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/doc/quorbel.1 -DOUT=${QUORBEL_MAN_PAGE}
          -P ${PROJECT_SOURCE_DIR}/cmake/gzip_file.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/doc/quorbel.1 ${PROJECT_SOURCE_DIR}/cmake/gzip_file.cmake
  COMMENT "Compressing the man page"
  VERBATIM)
add_custom_target(quorbel_man_page ALL DEPENDS ${QUORBEL_MAN_PAGE})
install(FILES ${QUORBEL_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES README.md schema/quorbel-line.schema.json DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME quorbel)
set(CPACK_PACKAGE_VENDOR "Quorbel")
set(CPACK_PACKAGE_CONTACT "Quorbel maintainers <maintainers@quorbel.invalid>" CACHE STRING
    "Maintainer of the packages CPack makes: Name <address>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "writes a JSON line every two seconds saying who uses the microphone")
set(CPACK_PACKAGE_DESCRIPTION "\
quorbel works out whether the microphone is in use, which processes capture
audio input and, for web browsers, the titles of their windows, and writes
each answer as one line of JSON on standard output, every two seconds. Its
readers are other programs: a meeting recorder, an on-air light, a
do-not-disturb switch. On Linux it asks the sound server (PulseAudio or
PipeWire), /proc, and the X server or the accessibility bus.")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()
if(NOT APPLE)
  # Stripping after signing would break a Mac binary's signature.
  set(CPACK_STRIP_FILES ON)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The runtime libraries, as dpkg-shlibdeps finds them in the binary: a library
# that a later change links in joins the list by itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
