# Lua 5.3 as a static library, built from the upstream sources that tools/setup
# unpacks. The compatibility options are left off on purpose: no bit32,
# no math.pow, no __ipairs.

set(LUA_SOURCE_DIR "${CORVANE_DEPS_DIR}/lua-5.3.6" CACHE PATH "Lua 5.3 source tree")
if(NOT EXISTS "${LUA_SOURCE_DIR}/src/lapi.c")
  message(FATAL_ERROR "Lua sources not found in ${LUA_SOURCE_DIR}; run tools/setup first")
endif()

file(GLOB LUA_C_SOURCES "${LUA_SOURCE_DIR}/src/*.c")
list(REMOVE_ITEM LUA_C_SOURCES
  "${LUA_SOURCE_DIR}/src/lua.c"
  "${LUA_SOURCE_DIR}/src/luac.c"
  "${LUA_SOURCE_DIR}/src/linit.c")

add_library(lua53 STATIC ${LUA_C_SOURCES})
target_include_directories(lua53 SYSTEM PUBLIC "${LUA_SOURCE_DIR}/src")
if(NOT WIN32)
  target_compile_definitions(lua53 PRIVATE LUA_USE_LINUX)
  target_link_libraries(lua53 PUBLIC m dl)
endif()
# Lua is third-party code: build it quietly.
target_compile_options(lua53 PRIVATE -w)
