# The simulator's frame rate under Xvfb, immediate mode against one
# vertex array per frame (make bench).
add_executable(hallsim_fps hallsim_fps.cpp)
target_link_libraries(hallsim_fps PRIVATE hallsim_backend wire)
target_include_directories(hallsim_fps PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(hallsim_fps PRIVATE
  HALLSIM_TEXTURE_DIR="${CMAKE_BINARY_DIR}/bin")
add_dependencies(hallsim_fps hallsim_texture_files)
set_target_properties(hallsim_fps PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
