# The song analysis: glimhost --analyse on the beat evaluation set, scored
# with mir_eval beside the live tracker, its cost a minute of music and the
# memory of a 20-minute file (`cmake --build build --target song_eval`, or
# make bench).
set(song_eval_run /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/song_eval/song_eval.py
    ${CMAKE_BINARY_DIR})
list(JOIN song_eval_run " " song_eval_run_line)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/bench/song_eval
     CONTENT "#!/bin/sh\nexec ${song_eval_run_line} \"$@\"\n"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                      WORLD_READ WORLD_EXECUTE)
add_custom_target(song_eval COMMAND ${song_eval_run} DEPENDS glimhost USES_TERMINAL)
if(TARGET beat_log)
  add_dependencies(song_eval beat_log)
endif()
