# Platform facts every target shares: warnings, sanitizers, static Windows
# linking, and the suffixes that pick a backend file:
#   CORVANE_OS_SUFFIX      the operating system: foo_win.cpp or foo_linux.cpp
#   CORVANE_FAMILY_SUFFIX  the OS family:        foo_win.cpp or foo_posix.cpp

if(WIN32)
  set(CORVANE_OS_SUFFIX win)
  set(CORVANE_FAMILY_SUFFIX win)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  set(CORVANE_OS_SUFFIX linux)
  set(CORVANE_FAMILY_SUFFIX posix)
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CORVANE_ARCH x64)
else()
  set(CORVANE_ARCH x86)
endif()

add_compile_options(
  "$<$<COMPILE_LANGUAGE:CXX>:-Wall;-Wextra;-Wno-unused-parameter>")

if(CORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
# The fuzz preset: every object carries libFuzzer's coverage hooks and both
# sanitizers; only the fuzz targets themselves link libFuzzer's main.
if(CORVANE_FUZZ)
  add_compile_options(-fsanitize=address,undefined,fuzzer-no-link -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined
                      "-fsanitize-ignorelist=${CMAKE_SOURCE_DIR}/fuzz/sanitizer_ignorelist.txt")
  add_link_options(-fsanitize=address,undefined)
endif()

find_package(Threads REQUIRED)

# corvane_program_path(VAR TARGET): the path of a program of this build as
# another program of this build started by CTest sees it. Under Wine the
# build tree is reached through drive Z:.
function(corvane_program_path var target)
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    set(${var} "Z:$<TARGET_FILE:${target}>" PARENT_SCOPE)
  else()
    set(${var} "$<TARGET_FILE:${target}>" PARENT_SCOPE)
  endif()
endfunction()
