# The program icon at the icon theme's usual sizes, drawn by q72icon from the
# same picture as the Windows program's res/q72display.ico. The PNGs are
# installed into the hicolor theme and also compiled into q72display as a
# GResource, so the window shows the icon when run from the build folder too.
set(Q72_ICON_SIZES 16 22 24 32 48 64 128 256)
set(Q72_ICON_DIR ${PROJECT_BINARY_DIR}/icons)

set(icon_files)
set(icon_entries)
foreach(size IN LISTS Q72_ICON_SIZES)
  add_custom_command(OUTPUT ${Q72_ICON_DIR}/${size}.png
    COMMAND q72icon --png ${size} ${Q72_ICON_DIR}/${size}.png
    DEPENDS q72icon VERBATIM)
  list(APPEND icon_files ${Q72_ICON_DIR}/${size}.png)
  string(APPEND icon_entries "    <file>${size}.png</file>\n")
endforeach()

file(CONFIGURE OUTPUT ${Q72_ICON_DIR}/icons.gresource.xml CONTENT
  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<gresources>
  <gresource prefix=\"/q72display/icons\">
${icon_entries}  </gresource>
</gresources>
")

pkg_get_variable(GLIB_COMPILE_RESOURCES gio-2.0 glib_compile_resources)
add_custom_command(OUTPUT ${Q72_ICON_DIR}/icons.c
  COMMAND ${GLIB_COMPILE_RESOURCES} --sourcedir=${Q72_ICON_DIR} --generate-source
          --c-name=q72_icons --target=${Q72_ICON_DIR}/icons.c ${Q72_ICON_DIR}/icons.gresource.xml
  DEPENDS ${Q72_ICON_DIR}/icons.gresource.xml ${icon_files} VERBATIM)
target_sources(q72display PRIVATE ${Q72_ICON_DIR}/icons.c)
