# What a release ships: a zip from a Windows build, a Debian package from a Linux build.
set(CPACK_PACKAGE_VENDOR "Varnel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert a game's .med sound files to .wav files and back")
# Debian shows the description as it is, and wants its lines within 80 columns.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "tonequay-cli converts every .med file of a folder into an IMA ADPCM .wav file,"
  "or every .wav file back into a .med file: a byte-for-byte copy with the WAVE"
  "format tag rewritten. It runs the same conversion as the Tonequay window"
  "program for Windows.")
set(TONEQUAY_MAINTAINER "Varnel <tonequay@varnel.example>" CACHE STRING "Package maintainer")
set(CPACK_PACKAGE_CONTACT "${TONEQUAY_MAINTAINER}")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The zip holds the two programs and the README at its top, nothing else.
  set(TONEQUAY_BIN_DIR .)
  # Notepad shows a README with bare LF line ends as one long line.
  configure_file(packaging/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES "${CMAKE_BINARY_DIR}/README.txt" DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  set(TONEQUAY_BIN_DIR "${CMAKE_INSTALL_BINDIR}")
  configure_file(packaging/tonequay-cli.1.in tonequay-cli.1 @ONLY)
  # A Debian package of its own needs a changelog; SOURCE_DATE_EPOCH, if set, fixes its date.
  string(TIMESTAMP release_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(packaging/changelog.in changelog @ONLY)
  # Debian wants both compressed, with no time stamp in the gzip header.
  foreach(file tonequay-cli.1 changelog)
    add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9nkf ${file}
                       DEPENDS "${CMAKE_BINARY_DIR}/${file}")
  endforeach()
  add_custom_target(packaged_docs ALL DEPENDS tonequay-cli.1.gz changelog.gz)
  install(FILES "${CMAKE_BINARY_DIR}/tonequay-cli.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES packaging/copyright "${CMAKE_BINARY_DIR}/changelog.gz"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/tonequay-cli")
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME tonequay-cli)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
