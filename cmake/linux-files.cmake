# What the native program installs beside its binaries: the desktop entry,
# the manual pages, the changelog, the copyright in Debian's machine-readable
# format and the AppStream metainfo. Manual pages and changelog are
# compressed as Debian's policy asks, with no time stamp in the gzip header.
find_program(GZIP gzip REQUIRED)
set(Q72_APPSTREAM_ID org.q72display.q72display)
set(Q72_HOMEPAGE "https://q72display.invalid" CACHE STRING
    "The project's web home, named in the AppStream metainfo")
set(Q72_RELEASE_DATE 2026-12-08)
set(Q72_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/q72display)
set(files_dir ${PROJECT_BINARY_DIR}/linux-files)

# The manual pages get the version from project().
foreach(page q72display q72render q72modem)
  configure_file(${PROJECT_SOURCE_DIR}/man/${page}.1 ${files_dir}/${page}.1 @ONLY)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/NEWS ${files_dir}/changelog COPYONLY)

set(compressed)
foreach(name q72display.1 q72render.1 q72modem.1 changelog)
  add_custom_command(OUTPUT ${files_dir}/${name}.gz
    COMMAND ${GZIP} -9nkf ${files_dir}/${name}
    DEPENDS ${files_dir}/${name} VERBATIM)
  list(APPEND compressed ${files_dir}/${name}.gz)
endforeach()
add_custom_target(linux_files ALL DEPENDS ${compressed})
list(POP_BACK compressed changelog)
install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${changelog} DESTINATION ${Q72_DOC_DIR})

# LICENSE in Debian's copyright format: the text after the copyright line,
# each line indented by one space and each blank line a " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" copyright_line "${license}")
set(holder ${CMAKE_MATCH_1})
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n" "" terms "${license}")
string(STRIP "${terms}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(CONFIGURE OUTPUT ${files_dir}/copyright @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Q72display
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${holder}
License: Expat

License: Expat
 ${terms}
")
install(FILES ${files_dir}/copyright DESTINATION ${Q72_DOC_DIR})

configure_file(${PROJECT_SOURCE_DIR}/res/q72display.metainfo.xml.in
               ${files_dir}/${Q72_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${files_dir}/${Q72_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The desktop entry names the program by its full path under the prefix it is
# installed to (`cmake --install --prefix /opt/q72` included), so that the
# menu starts it from outside PATH too; written when installing, as only then
# is the prefix known.
install(CODE "set(q72_desktop_in [[${PROJECT_SOURCE_DIR}/res/q72display.desktop]])
set(q72_desktop_out [[${files_dir}/q72display.desktop]])
set(q72_bindir [[${CMAKE_INSTALL_BINDIR}]])
set(q72_appdir [[${CMAKE_INSTALL_DATADIR}/applications]])")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install-desktop.cmake)
