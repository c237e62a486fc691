# The Windows program, q72display.exe: a GUI-subsystem executable with the
# portable core linked in, its resources, and the ANSI Windows API.
enable_language(RC)

file(GLOB WIN_APP_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/win32/*.cpp)
add_executable(q72display WIN32 ${WIN_APP_SOURCES} ${PROJECT_SOURCE_DIR}/res/q72display.rc)
target_include_directories(q72display PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/res)
target_compile_definitions(q72display PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_compile_options(q72display PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra>)
# wWinMain entry; the code itself calls the ...A functions throughout.
target_link_options(q72display PRIVATE -municode)
# oleacc, ole32, oleaut32 and uuid hand the LCD to screen readers (MSAA).
target_link_libraries(q72display PRIVATE q72core comctl32 setupapi oleacc ole32 oleaut32 uuid)
# The manifest carries the version: made in the folder of the generated header.
configure_file(${PROJECT_SOURCE_DIR}/res/q72display.manifest.in
               ${PROJECT_BINARY_DIR}/generated/q72display.manifest @ONLY)
set_source_files_properties(${PROJECT_SOURCE_DIR}/res/q72display.rc PROPERTIES OBJECT_DEPENDS
  "${PROJECT_SOURCE_DIR}/res/q72display.ico;${PROJECT_BINARY_DIR}/generated/q72display.manifest;${PROJECT_BINARY_DIR}/generated/app/version.h;${PROJECT_SOURCE_DIR}/res/resource.h")
add_subdirectory(${PROJECT_SOURCE_DIR}/tests/bench/win ${PROJECT_BINARY_DIR}/tests/bench/win)
