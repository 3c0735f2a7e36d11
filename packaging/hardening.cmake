# The distribution's hardening flags (stack protector, fortified libc calls, format checks, read-only
# relocations bound at start-up, position-independent executables), asked from dpkg-buildflags so
# they follow Debian's policy of the day. Optimised builds only: fortification needs the optimiser,
# and the sanitizer and fuzzing builds bring their own instrumentation.
option(PLASMA_HARDENING "Build with the distribution's hardening flags (dpkg-buildflags)" ON)

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()

find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(PLASMA_HARDENING AND DPKG_BUILDFLAGS AND NOT PLASMA_SANITIZE AND NOT PLASMA_FUZZ
   AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    # Only the hardening: the build type chooses optimisation and debug information, and source
    # paths stay as they are so that test fixtures are found.
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
              "DEB_${kind}_MAINT_STRIP=-g -O2" ${DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE _flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(_flags UNIX_COMMAND "${_flags}")
    if(kind STREQUAL "LDFLAGS")
      add_link_options(${_flags})
    else()
      add_compile_options(${_flags})
    endif()
    string(JOIN " " _shown ${_flags})
    message(STATUS "Hardening ${kind}: ${_shown}")
  endforeach()
endif()
