# Installing and packaging. Native build: the program and its tools under the
# prefix, with a desktop entry and the icon theme's icons; `cpack -G DEB`
# makes the Debian package, its dependencies read from the binaries.
# Windows build: `cpack -G ZIP` makes the one download: the program and
# README.txt, the Windows program's part of the README with CRLF line ends,
# so that Notepad shows it as it should.
set(CPACK_PACKAGE_NAME q72display)
set(CPACK_PACKAGE_VENDOR Q72display)
set(CPACK_PACKAGE_CONTACT "Q72display maintainers <maintainers@q72display.invalid>"
    CACHE STRING "Maintainer named in the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "front panel of the Q72 CW Modem")
set(CPACK_PACKAGE_DESCRIPTION
    "Q72display stands in for the LCD and the keyboard of the Q72 CW Modem, a Morse
code modem with no screen of its own, on a serial line at 19200 baud. A small
always-on-top window paints the modem's 128 x 64 display, and key presses go to
the modem. Also q72render, which draws a recorded display stream as a picture,
and q72modem, a simulated modem for the far end of a serial line.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS q72display RUNTIME DESTINATION .)
  # The licence as Windows users open it: LICENSE.txt, CRLF line endings.
  configure_file(LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION .)
  configure_file(res/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME q72display-${PROJECT_VERSION}-win64)
else()
  include(GNUInstallDirs)
  install(TARGETS q72display q72render q72modem RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  foreach(size IN LISTS Q72_ICON_SIZES)
    install(FILES ${Q72_ICON_DIR}/${size}.png RENAME q72display.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  # The README with the pictures it shows, and the systemd unit it describes.
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/q72display)
  install(FILES README.md DESTINATION ${doc_dir})
  install(DIRECTORY docs/ DESTINATION ${doc_dir}/docs FILES_MATCHING PATTERN "*.png")
  install(FILES res/q72display-web.service DESTINATION ${doc_dir}/examples)
  include(cmake/linux-files.cmake)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
endif()

include(CPack)
