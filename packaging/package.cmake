# Installation and the Debian packages: `cpack -G DEB` in the build folder makes
#   plasma-display        the display, its launcher, the service units, the account, manual pages,
#                         the Prometheus rules for a fleet
#   plasma-display-tools  plasma-render, timetable-sim and the sample pictures (not for screen PCs)
# Programs go to /usr/bin, the units to /usr/lib/systemd/{system,user}, the pictures to
# /usr/share/plasma-display/pictures, the rules to /usr/share/plasma-display/prometheus and the
# documentation to /usr/share/doc/PACKAGE.

set(_pkg ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(_gen ${CMAKE_BINARY_DIR}/packaging)

if(TARGET plasma-display)
  install(TARGETS plasma-display RUNTIME DESTINATION bin COMPONENT display)
endif()
foreach(program plasma-render timetable-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION bin COMPONENT tools)
  endif()
endforeach()
install(PROGRAMS ${_pkg}/plasma-display-launch DESTINATION bin COMPONENT display)
install(FILES ${_pkg}/plasma-display@.service DESTINATION lib/systemd/system COMPONENT display)
install(FILES ${_pkg}/user/plasma-display@.service DESTINATION lib/systemd/user COMPONENT display)
install(FILES ${_pkg}/plasma-display.sysusers DESTINATION lib/sysusers.d RENAME plasma-display.conf
        COMPONENT display)
# Alerting and recording rules for the Prometheus server that watches the screens (the operator
# copies or links them from a screen PC or any PC with the package).
install(FILES ${_pkg}/prometheus/plasma-display.rules.yml DESTINATION share/plasma-display/prometheus
        COMPONENT display)
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/resources/pictures/
        DESTINATION share/plasma-display/pictures COMPONENT tools
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Manual pages and the changelog compressed as Debian wants them (gzip -9n: no name, no time).
set(_man plasma-display plasma-display-launch plasma-render timetable-sim)
set(_compressed ${_gen}/changelog.gz)
add_custom_command(OUTPUT ${_gen}/changelog.gz
                   COMMAND sh -c "gzip -9n < '${_pkg}/debian/changelog' > '${_gen}/changelog.gz'"
                   DEPENDS ${_pkg}/debian/changelog VERBATIM)
foreach(page ${_man})
  add_custom_command(OUTPUT ${_gen}/${page}.1.gz
                     COMMAND sh -c "gzip -9n < '${_pkg}/man/${page}.1' > '${_gen}/${page}.1.gz'"
                     DEPENDS ${_pkg}/man/${page}.1 VERBATIM)
  list(APPEND _compressed ${_gen}/${page}.1.gz)
endforeach()
file(MAKE_DIRECTORY ${_gen})
add_custom_target(package_documents ALL DEPENDS ${_compressed})

install(FILES ${_gen}/plasma-display.1.gz ${_gen}/plasma-display-launch.1.gz DESTINATION share/man/man1
        COMPONENT display)
install(FILES ${_gen}/plasma-render.1.gz ${_gen}/timetable-sim.1.gz DESTINATION share/man/man1
        COMPONENT tools)
foreach(component display tools)
  set(_doc share/doc/plasma-display)
  if(component STREQUAL "tools")
    set(_doc share/doc/plasma-display-tools)
  endif()
  install(FILES ${_pkg}/debian/copyright ${_gen}/changelog.gz DESTINATION ${_doc} COMPONENT ${component})
endforeach()
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/README.md ${_pkg}/example.conf
        DESTINATION share/doc/plasma-display COMPONENT display)
install(FILES ${_pkg}/debian/plasma-display.lintian-overrides DESTINATION share/lintian/overrides
        RENAME plasma-display COMPONENT display)

# The launcher beside the programs in the build folder too, so it can be run (and tested) there.
configure_file(${_pkg}/plasma-display-launch ${CMAKE_BINARY_DIR}/bin/plasma-display-launch
               COPYONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plasma-display)
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL display tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vantrel display team <displays@vantrel.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vantrel.example/displays")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DISPLAY_PACKAGE_NAME plasma-display)
set(CPACK_DEBIAN_DISPLAY_DESCRIPTION
    "passenger-information display for the Vantrel airport rail line\n\
One instance drives one monitor: it polls its timetable server every 30\n\
seconds and cycles through departure boards, next-train pages, countdown\n\
pages, messages and a picture slideshow. The systemd units\n\
plasma-display@TYPE-SCREEN run it on the bare console (KMS/DRM) or in a\n\
desktop session; status and Prometheus metrics go to /run/plasma-display.")
# The pages are measured in this face, which is not a library that dpkg-shlibdeps would find. The
# libraries the display links (libdrm for the console, xcb and Wayland for desktops) are found by
# dpkg-shlibdeps; nothing is opened at run time, so no GL, EGL, GBM or Mesa is needed anywhere.
set(CPACK_DEBIAN_DISPLAY_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_DEBIAN_DISPLAY_PACKAGE_CONTROL_EXTRA
    ${_pkg}/debian/postinst ${_pkg}/debian/prerm ${_pkg}/debian/postrm)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME plasma-display-tools)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "preview tool and sample timetable server for plasma displays\n\
plasma-render paints any page of a display type from a timetable document,\n\
or plays the display on a virtual clock; timetable-sim serves live sample\n\
documents and pictures. For the people who prepare timetables and test\n\
displays, not for the screen PCs.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "fonts-liberation")
include(CPack)
