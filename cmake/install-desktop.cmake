# Run at install time (cmake --install, cpack): the desktop entry with Exec=
# the program's full path under CMAKE_INSTALL_PREFIX, quoted when it holds a
# blank. q72_desktop_in, q72_desktop_out, q72_bindir and q72_appdir are set
# by linux-files.cmake.
set(bin "${q72_bindir}")
if(NOT IS_ABSOLUTE "${bin}")
  set(bin "${CMAKE_INSTALL_PREFIX}/${bin}")
endif()
set(exec "${bin}/q72display")
if(exec MATCHES "[ \t]")
  set(exec "\"${exec}\"")
endif()
file(READ "${q72_desktop_in}" entry)
string(REGEX REPLACE "\nExec=q72display\n" "\nExec=${exec}\n" entry "${entry}")
file(WRITE "${q72_desktop_out}" "${entry}")
file(INSTALL "${q72_desktop_out}" DESTINATION "${CMAKE_INSTALL_PREFIX}/${q72_appdir}")
