# Beat tracking. beat_eval: a set of pieces rendered from MIDI with exactly
# known beats, the tracker run on each as the plug-in hears it (beat_log)
# and aubio's own tracker on the same files, scored with mir_eval
# (`cmake --build build --target beat_eval`, or make bench).
# beat_tracker_bench: the tracker's cost a callback (mean, and each feed
# timed alone for the median and the 99th percentile), against the
# host's spectrum of the same blocks as a floor.
if(NOT TARGET glim_beat)
  return()
endif()
add_executable(beat_log ${CMAKE_CURRENT_LIST_DIR}/beat_eval/beat_log.cpp)
target_link_libraries(beat_log PRIVATE glim_beat hostcore)
set_target_properties(beat_log PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/beat_eval)

set(beat_eval_run sh ${CMAKE_CURRENT_LIST_DIR}/beat_eval/run.sh ${CMAKE_BINARY_DIR})
list(JOIN beat_eval_run " " beat_eval_run_line)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/bench/beat_eval
     CONTENT "#!/bin/sh\nexec ${beat_eval_run_line} \"$@\"\n"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                      WORLD_READ WORLD_EXECUTE)
add_custom_target(beat_eval COMMAND ${beat_eval_run} DEPENDS beat_log USES_TERMINAL)

if(benchmark_FOUND)
  add_executable(beat_tracker_bench ${CMAKE_CURRENT_LIST_DIR}/beat_tracker.cpp)
  target_link_libraries(beat_tracker_bench PRIVATE glim_beat hostcore benchmark::benchmark)
  set_target_properties(beat_tracker_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
