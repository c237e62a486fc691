# The browser panel of q72display (src/web): a libsoup 3 server on the
# program's main loop, and its page built in as a GResource.
pkg_check_modules(SOUP3 REQUIRED IMPORTED_TARGET libsoup-3.0)
pkg_check_modules(JSONGLIB REQUIRED IMPORTED_TARGET json-glib-1.0)
# GnuTLS itself only to check that the key belongs to the certificate.
pkg_check_modules(GNUTLS REQUIRED IMPORTED_TARGET gnutls)
find_program(GLIB_COMPILE_RESOURCES glib-compile-resources REQUIRED)

set(WEB_DIR ${PROJECT_SOURCE_DIR}/src/web)
set(WEB_RESOURCES ${CMAKE_CURRENT_BINARY_DIR}/web_resources.c)
add_custom_command(
  OUTPUT ${WEB_RESOURCES}
  COMMAND ${GLIB_COMPILE_RESOURCES} --target=${WEB_RESOURCES} --sourcedir=${WEB_DIR}
          --generate-source --c-name q72web ${WEB_DIR}/web.gresource.xml
  DEPENDS ${WEB_DIR}/web.gresource.xml ${WEB_DIR}/panel.html
  COMMENT "Building the browser panel's page into the program")

file(GLOB WEB_SOURCES CONFIGURE_DEPENDS ${WEB_DIR}/*.cpp)
target_sources(q72display PRIVATE ${WEB_SOURCES} ${WEB_RESOURCES})
target_link_libraries(q72display PRIVATE PkgConfig::SOUP3 PkgConfig::JSONGLIB PkgConfig::GNUTLS)
