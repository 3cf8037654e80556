# The lamps against the feed through the box driver and boxemu: how far
# behind a fast feed the lamps run.
add_executable(boxemu_pacing ${CMAKE_CURRENT_LIST_DIR}/boxemu_pacing.cpp)
target_include_directories(boxemu_pacing PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(boxemu_pacing PRIVATE boxline)
target_compile_definitions(boxemu_pacing PRIVATE
  BOXEMU="$<TARGET_FILE:boxemu>" BOXDRIVER="$<TARGET_FILE:boxdriver>"
  BOXDRIVER57600="$<TARGET_FILE:boxdriver57600>")
add_dependencies(boxemu_pacing boxemu boxdriver boxdriver57600)
set_target_properties(boxemu_pacing PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

# Sound to lamp end to end: glimhost, the plug-in, the box driver, boxemu.
pkg_check_modules(E2E_PULSE REQUIRED IMPORTED_TARGET libpulse-simple)
add_executable(e2e_sync ${CMAKE_CURRENT_LIST_DIR}/e2e_sync.cpp)
target_include_directories(e2e_sync PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(e2e_sync PRIVATE boxline PkgConfig::E2E_PULSE Threads::Threads)
target_compile_definitions(e2e_sync PRIVATE
  BOXEMU="$<TARGET_FILE:boxemu>" BOXDRIVER="$<TARGET_FILE:boxdriver>"
  GLIMHOST="$<TARGET_FILE:glimhost>")
add_dependencies(e2e_sync boxemu boxdriver glimhost)
if(TARGET glim)
  add_dependencies(e2e_sync glim)
endif()
set_target_properties(e2e_sync PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
