# The plug-in's spectrum callback (analysis, beat tracker, scheduler,
# pattern, sending to ten loopback subscribers) under Xvfb, with the
# preview drawing and with it switched off, the sending alone, and each
# table pattern's frame alone. Target: analysis, beat and pattern at most
# 3 microseconds a callback (the nodraw build, no subscribers).
if(benchmark_FOUND AND TARGET glim)
  foreach(variant glim_callback_bench glim_callback_nodraw_bench)
    add_executable(${variant} ${CMAKE_CURRENT_LIST_DIR}/glim_callback.cpp)
    pkg_check_modules(GLIM_BENCH_GTK REQUIRED IMPORTED_TARGET gtk+-2.0)
    target_link_libraries(${variant} PRIVATE PkgConfig::GLIM_BENCH_GTK
                          benchmark::benchmark ${CMAKE_DL_LIBS})
    target_include_directories(${variant} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_compile_definitions(${variant} PRIVATE
      GLIM_LIBRARY="$<TARGET_FILE:glim>")
    add_dependencies(${variant} glim)
    set_target_properties(${variant} PROPERTIES
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  endforeach()
  # No drawing: the executable exports do-nothing stand-ins for the three
  # GDK calls of the preview, which take their place in the plug-in.
  target_compile_definitions(glim_callback_nodraw_bench PRIVATE GLIM_BENCH_NO_DRAW)
  set_target_properties(glim_callback_nodraw_bench PROPERTIES ENABLE_EXPORTS ON)
endif()
