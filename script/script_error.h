#pragma once
// Error texts for callers that show why a script failed: the message followed
// by a traceback whose lines name the script's file and line. Internal to the
// script host; the companion never asks for them, so its calls stay as lean
// as they were.

#include <string>

struct lua_State;

namespace detail {

// A message handler for lua_pcall: replaces the error object with its text
// and a traceback of the stack where the error was raised.
int AddTraceback(lua_State* L);

// The error object at `index` as text; an object that is not text is named
// by its type.
std::string ErrorText(lua_State* L, int index);

}  // namespace detail
