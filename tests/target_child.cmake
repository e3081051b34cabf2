include_guard(GLOBAL)
# target_child: a real process whose memory tests and benchmarks lay out (see
# target_child.cpp for the block language), and the helpers that start it and
# read its layout. The child is built beside the programs that start it.
set(_target_child_dir "${CMAKE_SOURCE_DIR}/tests")
add_executable(target_child
  "${_target_child_dir}/target_child.cpp"
  "${_target_child_dir}/target_child_${CORVANE_OS_SUFFIX}.cpp")
target_link_libraries(target_child PRIVATE ${CMAKE_DL_LIBS})
add_library(target_child_client STATIC
  "${_target_child_dir}/child_process.cpp"
  "${_target_child_dir}/child_process_${CORVANE_OS_SUFFIX}.cpp"
  "${_target_child_dir}/target_child_client.cpp")
target_include_directories(target_child_client PUBLIC "${_target_child_dir}")
add_dependencies(target_child_client target_child)
