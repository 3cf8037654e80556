# install_unit.cmake -- run by `cmake --install` (and so by CPack) for one
# systemd unit: fills in this installation's paths and installs the unit
# and its settings file. Set by the caller (hall_install_unit): HALL_UNIT,
# HALL_UNIT_KIND (system or user), HALL_UNIT_TEMPLATE, HALL_UNIT_SETTINGS,
# HALL_UNIT_STAGING and HALL_BINDIR (relative to the prefix).

# Settings go where GNUInstallDirs puts them: /etc for the prefix /usr (a
# package), <prefix>/etc otherwise.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR CMAKE_INSTALL_PREFIX STREQUAL "/")
  set(sysconfdir /etc)
else()
  set(sysconfdir ${CMAKE_INSTALL_PREFIX}/etc)
endif()
set(HALL_BINDIR ${CMAKE_INSTALL_PREFIX}/${HALL_BINDIR})
set(HALL_SYSCONFDIR ${sysconfdir})
set(HALL_SETTINGS ${sysconfdir}/default/${HALL_UNIT})

# One staging folder per destination: a package and a test tree may be
# installed from the same build at the same time.
string(MD5 destination "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(staged ${HALL_UNIT_STAGING}/${destination}/${HALL_UNIT}.service)
configure_file(${HALL_UNIT_TEMPLATE} ${staged} @ONLY)
file(INSTALL ${staged} DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/${HALL_UNIT_KIND})

# Installing again never overwrites settings the installer has edited.
if(EXISTS "$ENV{DESTDIR}${HALL_SETTINGS}")
  message(STATUS "Keeping: $ENV{DESTDIR}${HALL_SETTINGS}")
else()
  file(INSTALL ${HALL_UNIT_SETTINGS} DESTINATION ${sysconfdir}/default RENAME ${HALL_UNIT})
endif()
