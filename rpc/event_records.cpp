// Recording and taking one kind of text event.

#include "rpc/event_records.h"

#include "rpc/fixed_text.h"

namespace detail {

void TextEventRecord::Record(int code, const char* text) {
    std::lock_guard<std::mutex> guard(lock_);
    code_ = code;
    if (text != nullptr) CopyFixedText(text_, text);
    pending_.exchange(true);
}

bool TextEventRecord::Take(EventText& out) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!pending_.exchange(false)) return false;
    out.code = code_;
    CopyFixedText(out.text, text_);
    return true;
}

}  // namespace detail
