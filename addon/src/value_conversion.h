#pragma once
// Reading JavaScript arguments into plain C++ values. Each conversion reports
// through `ok` whether the value had the expected type; nothing is coerced
// from another type, so a wrong argument is refused rather than reinterpreted.

#include <cstdint>
#include <string>

#include <nan.h>

namespace corvane {

// An integral number from 0 to 4294967295. Anything else (a string of digits,
// a negative number, a fraction, 2^32 or more, a boolean, null, undefined)
// sets ok to false and gives 0.
std::uint32_t toUint32(v8::Local<v8::Value> value, bool& ok);

// The UTF-8 text of a string, with its exact length: an embedded U+0000 stays
// inside it and a lone surrogate becomes U+FFFD. Anything that is not a string
// sets ok to false and gives the empty string.
std::string toUtf8String(v8::Local<v8::Value> value, bool& ok);

// Replaces *out with toUtf8String(value) and returns its ok flag, so a refused
// value leaves *out empty. A null out gives false and touches nothing.
bool readUtf8String(v8::Local<v8::Value> value, std::string* out);

// The JavaScript number for an unsigned 32-bit result.
v8::Local<v8::Value> fromUint32(std::uint32_t value);

}  // namespace corvane
