# Where an installation puts things (GNU directories; prefix /usr/local
# unless CMAKE_INSTALL_PREFIX says otherwise; DESTDIR honoured), and the
# helpers the folders install with: hall_install_program for a program and
# its manual page, hall_install_unit (systemd/) for a unit and its settings.
include(GNUInstallDirs)

# The system's own folders: the plug-in under lib/, the textures and the
# example channel map under share/, the README under share/doc/.
set(HALL_INSTALL_PLUGINDIR ${CMAKE_INSTALL_LIBDIR}/hallway-lights)
set(HALL_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/hallway-lights)
set(HALL_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/hallway-lights)

# Programs find the plug-in and data folders from the folder they run in,
# so that a tree works wherever it lands (DESTDIR, a package's /usr).
file(RELATIVE_PATH HALL_PLUGINDIR_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBDIR}/hallway-lights)
file(RELATIVE_PATH HALL_DATADIR_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/hallway-lights)

find_program(HALL_HELP2MAN help2man REQUIRED)
find_program(HALL_GZIP gzip REQUIRED)

# hall_install_program(TARGET "what it does" [MAN PAGE]): the program into
# bin/, and its manual page into share/man/man1, written by help2man at
# build time from the program's own --help and --version (laid out by
# man_help.sh) and the sections of man/PAGE.h2m (PAGE: TARGET unless
# given): description, exit status, files, see also.
function(hall_install_program target description)
  cmake_parse_arguments(P "" "MAN" "" ${ARGN})
  if(NOT P_MAN)
    set(P_MAN ${target})
  endif()
  set(include ${CMAKE_SOURCE_DIR}/man/${P_MAN}.h2m)
  if(NOT EXISTS ${include})
    message(FATAL_ERROR "${target}: its manual page's sections are missing (${include})")
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
  # Run by its bare name from the PATH, so the page shows "boxdriver",
  # not the build folder.
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env "PATH=$<TARGET_FILE_DIR:${target}>:/usr/bin:/bin"
            ${HALL_HELP2MAN} --no-info --section=1 "--name=${description}"
            --include=${include} --output=${page}
            "sh ${CMAKE_SOURCE_DIR}/cmake/man_help.sh ${target}"
    COMMAND ${HALL_GZIP} -9nf ${page}
    DEPENDS ${target} ${include} ${CMAKE_SOURCE_DIR}/cmake/man_help.sh
    COMMENT "Manual page of ${target}"
    VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# hall_install_unit(NAME PROGRAM target [USER]): systemd/NAME.service.in
# and its settings file systemd/NAME.default, when the program they run is
# part of the build. The paths in the unit are filled in at install time,
# since only then is the prefix known (a package installs into /usr from
# a tree configured for /usr/local). USER: a user unit.
function(hall_install_unit name)
  cmake_parse_arguments(U "USER" "PROGRAM" "" ${ARGN})
  if(NOT TARGET ${U_PROGRAM})
    return()
  endif()
  set(kind system)
  if(U_USER)
    set(kind user)
  endif()
  install(CODE "
    set(HALL_UNIT ${name})
    set(HALL_UNIT_KIND ${kind})
    set(HALL_UNIT_TEMPLATE \"${CMAKE_CURRENT_SOURCE_DIR}/${name}.service.in\")
    set(HALL_UNIT_SETTINGS \"${CMAKE_CURRENT_SOURCE_DIR}/${name}.default\")
    set(HALL_UNIT_STAGING \"${CMAKE_CURRENT_BINARY_DIR}/staging\")
    set(HALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    include(\"${CMAKE_SOURCE_DIR}/cmake/install_unit.cmake\")")
  set_property(GLOBAL APPEND PROPERTY HALL_${kind}_UNITS ${name})
endfunction()
