# Installation and the Debian package: `cpack -G DEB` in the build folder.
# Programs go to /usr/bin, the service units to /usr/lib/systemd/{system,user}, the sample pictures
# to /usr/share/plasma-display/pictures and the documentation to /usr/share/doc/plasma-display.

set(_pkg ${CMAKE_CURRENT_SOURCE_DIR}/packaging)

foreach(program plasma-display plasma-render timetable-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION bin)
  endif()
endforeach()
install(PROGRAMS ${_pkg}/plasma-display-launch DESTINATION bin)
install(FILES ${_pkg}/plasma-display@.service DESTINATION lib/systemd/system)
install(FILES ${_pkg}/user/plasma-display@.service DESTINATION lib/systemd/user)
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/resources/pictures/
        DESTINATION share/plasma-display/pictures
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/README.md ${_pkg}/example.conf
        DESTINATION share/doc/plasma-display)

# The launcher beside the programs in the build folder too, so it can be run (and tested) there.
configure_file(${_pkg}/plasma-display-launch ${CMAKE_BINARY_DIR}/bin/plasma-display-launch
               COPYONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plasma-display)
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Full-screen passenger-information display for the Vantrel airport rail line")
set(CPACK_PACKAGE_DESCRIPTION
    "One instance drives one monitor: it polls its timetable server every 30 seconds and cycles\n\
through departure boards, next-train pages, countdown pages, messages and a picture slideshow.\n\
Includes the systemd unit template plasma-display@TYPE-SCREEN, plasma-render (preview) and\n\
timetable-sim (a sample timetable server).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vantrel display team <displays@vantrel.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vantrel.example/displays")
# Libraries are found by dpkg-shlibdeps; the face the pages are measured with is not a library.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_pkg}/postinst ${_pkg}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
