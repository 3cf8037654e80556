# `make package`: a Debian package of the installed tree through CPack,
# installed into /usr. dpkg-shlibdeps finds the libraries the programs and
# the plug-in need; what is not a library is named below. The units come
# disabled; the maintainer scripts only let systemd see them come and go.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hallway-lights)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Hallway lights developers <hallway-lights@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "light show for a hallway of 60 dimmable lamps")
set(CPACK_PACKAGE_DESCRIPTION
    "Producers make light frames (a music visualisation plug-in run by glimhost, a
pong game, a test feed) and publish them over UDP; consumers show them: the
serial dimmer box driver, a 3D simulator, a terminal view. With systemd units
to run the show and the driver unattended.")
# GPL-3.0-or-later: the terms qm-dsp (GPL-2+), aubio (GPL-3+) and FFTW
# (GPL-2+) together allow. A Debian package states it in its copyright
# file (share/doc/hallway-lights/copyright, installed with the README).
set(CPACK_RPM_PACKAGE_LICENSE "GPL-3.0-or-later")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/COPYING)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# glimhost --headless starts Xvfb; the box driver's console runs "clear".
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xvfb, ncurses-bin")
# hallway-show captures what the sound server plays.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
if(TARGET dmxout)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "${CPACK_DEBIAN_PACKAGE_RECOMMENDS}, ola")
endif()
set(CPACK_STRIP_FILES ON)

# The settings files are the installer's (conffiles); the scripts name the
# units this build installs.
get_property(HALL_SYSTEM_UNITS GLOBAL PROPERTY HALL_system_UNITS)
get_property(HALL_USER_UNITS GLOBAL PROPERTY HALL_user_UNITS)
set(conffiles "")
foreach(unit ${HALL_SYSTEM_UNITS} ${HALL_USER_UNITS})
  string(APPEND conffiles "/etc/default/${unit}\n")
endforeach()
set(control ${CMAKE_BINARY_DIR}/deb)
file(WRITE ${control}/conffiles "${conffiles}")
list(TRANSFORM HALL_SYSTEM_UNITS APPEND .service)
list(TRANSFORM HALL_USER_UNITS APPEND .service)
list(JOIN HALL_SYSTEM_UNITS " " HALL_SYSTEM_UNITS)
list(JOIN HALL_USER_UNITS " " HALL_USER_UNITS)
foreach(script postinst prerm postrm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/${script}.in ${control}/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${control}/conffiles ${control}/postinst ${control}/prerm ${control}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
