# GoogleTest from the sources that Debian's googletest package installs, built
# for the current target. Windows test programs run under Wine through CTest's
# cross-compiling emulator, with a private prefix under the build tree.

set(GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory("${GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_gtest" EXCLUDE_FROM_ALL SYSTEM)

if(WIN32)
  set(CORVANE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  # Debian's Wine loaders: wine64's for 64-bit programs, wine32's for 32-bit ones.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CORVANE_WINE_LOADER "/usr/lib/wine/wine64" CACHE FILEPATH "The Wine loader of this build's programs")
  else()
    set(CORVANE_WINE_LOADER "/usr/lib/wine/wine" CACHE FILEPATH "The Wine loader of this build's programs")
  endif()
  configure_file("${CMAKE_SOURCE_DIR}/cmake/wine-run.in" "${CMAKE_BINARY_DIR}/wine-run" @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run")
endif()

# corvane_add_test(NAME SOURCES src... [LIBS lib...])
# One test program per unit under test; CTest runs each program as one test.
function(corvane_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests" "${CMAKE_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

# corvane_add_pipe_test(NAME SOURCES src... [LIBS lib...]): a test program
# that talks over the RPC pipe. On Linux it gets a socket directory of its
# own; on Windows the pipe names are shared by every program in the Wine
# prefix, so such programs hold the resource lock "rpc_pipe".
function(corvane_add_pipe_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  corvane_add_test(${name} SOURCES ${ARG_SOURCES} LIBS ${ARG_LIBS} corvane_service_pipe)
  if(WIN32)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK rpc_pipe)
  else()
    target_link_libraries(${name} PRIVATE private_runtime_dir)
  endif()
endfunction()
