# stage.cmake -- what the install tests look at, made once per test run.
#   WHAT=tree: the build installed as `make install` does it, into a
#     staging folder (OUT/destdir, prefix /usr/local), and into a prefix of
#     its own (OUT/prefix), where the units find the programs they name.
#   WHAT=package: the Debian package, built by CPack into OUT.
# BUILD is the build folder; OUT is emptied first.
file(REMOVE_RECURSE ${OUT})
if(WHAT STREQUAL "tree")
  set(ENV{DESTDIR} ${OUT}/destdir)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix /usr/local
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  unset(ENV{DESTDIR})
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${OUT}/prefix
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
elseif(WHAT STREQUAL "package")
  execute_process(COMMAND ${CPACK} --config ${BUILD}/CPackConfig.cmake -B ${OUT}
                  WORKING_DIRECTORY ${BUILD} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
else()
  message(FATAL_ERROR "WHAT must be tree or package")
endif()
