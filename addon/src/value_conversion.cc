#include "value_conversion.h"

namespace corvane {

std::uint32_t toUint32(v8::Local<v8::Value> value, bool& ok) {
    ok = true;
    if (value.IsEmpty() || !value->IsUint32()) {
        ok = false;
        return 0;
    }
    // A value that passes IsUint32 converts without running any script.
    return Nan::To<std::uint32_t>(value).FromJust();
}

std::string toUtf8String(v8::Local<v8::Value> value, bool& ok) {
    ok = true;
    if (value.IsEmpty() || !value->IsString()) {
        ok = false;
        return std::string();
    }
    Nan::Utf8String text(value);
    return std::string(*text, static_cast<std::size_t>(text.length()));
}

bool readUtf8String(v8::Local<v8::Value> value, std::string* out) {
    if (out == nullptr) return false;
    bool ok = false;
    *out = toUtf8String(value, ok);
    return ok;
}

v8::Local<v8::Value> fromUint32(std::uint32_t value) {
    v8::Local<v8::Integer> number = v8::Integer::NewFromUnsigned(v8::Isolate::GetCurrent(), value);
    return Nan::To<v8::Uint32>(number).ToLocalChecked();
}

}  // namespace corvane
