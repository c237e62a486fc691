# The native Linux program, q72display: the portable core under a GTK 3 front end.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)

file(GLOB GTK_APP_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/gtk/*.cpp)
add_executable(q72display ${GTK_APP_SOURCES})
target_compile_options(q72display PRIVATE -Wall -Wextra)
target_link_libraries(q72display PRIVATE q72core PkgConfig::GTK3)
include(${CMAKE_CURRENT_LIST_DIR}/icons.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/web.cmake)
target_compile_definitions(q72display PRIVATE Q72_VERSION="${PROJECT_VERSION}")
