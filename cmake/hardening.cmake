# Debian's build flags with every hardening feature (fortified functions,
# stack protector, read-only relocations bound at start), as dpkg-buildflags
# gives them to Debian's own packages, for the native optimised build. The
# program opens serial devices and may serve a network port.
option(Q72_HARDEN "Build with the flags of dpkg-buildflags, hardening=+all" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(Q72_HARDEN AND DPKG_BUILDFLAGS AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(Q72_DEB_${kind} UNIX_COMMAND "${flags}")
  endforeach()
  add_compile_options(${Q72_DEB_CPPFLAGS} "$<$<COMPILE_LANGUAGE:C>:${Q72_DEB_CFLAGS}>"
                      "$<$<COMPILE_LANGUAGE:CXX>:${Q72_DEB_CXXFLAGS}>")
  add_link_options(${Q72_DEB_LDFLAGS})
endif()
