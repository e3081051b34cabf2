# Platform facts every target shares: warnings, sanitizers, static Windows
# linking, and the suffix that picks a backend file (foo_win.cpp, foo_linux.cpp).

if(WIN32)
  set(CORVANE_OS_SUFFIX win)
  set(CORVANE_POSIX_SUFFIX win)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  set(CORVANE_OS_SUFFIX linux)
  set(CORVANE_POSIX_SUFFIX posix)
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

find_package(Threads REQUIRED)
