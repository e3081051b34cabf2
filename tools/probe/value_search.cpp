#include "tools/probe/value_search.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "companion/utf8_sequence.h"
#include "target/pattern_matcher.h"
#include "tools/probe/probe_arguments.h"

namespace {

struct TypeInfo {
    ValueType type;
    const char* name;
    std::size_t size;  // 0 for text
};

const TypeInfo kTypes[] = {
    {ValueType::I8, "i8", 1},     {ValueType::U8, "u8", 1},      {ValueType::I16, "i16", 2},
    {ValueType::U16, "u16", 2},   {ValueType::I32, "i32", 4},    {ValueType::U32, "u32", 4},
    {ValueType::I64, "i64", 8},   {ValueType::U64, "u64", 8},    {ValueType::F32, "f32", 4},
    {ValueType::F64, "f64", 8},   {ValueType::Utf8, "utf8", 0},  {ValueType::Utf16, "utf16", 0},
};

const TypeInfo& Info(ValueType type) {
    for (const TypeInfo& info : kTypes) {
        if (info.type == type) return info;
    }
    return kTypes[0];
}

bool IsSigned(ValueType type) {
    return type == ValueType::I8 || type == ValueType::I16 || type == ValueType::I32 || type == ValueType::I64;
}

bool IsFloat(ValueType type) { return type == ValueType::F32 || type == ValueType::F64; }

void PutLittleEndian(std::uint64_t bits, std::size_t size, std::vector<std::uint8_t>& bytes) {
    bytes.resize(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::uint64_t GetLittleEndian(const std::uint8_t* bytes, std::size_t size) {
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < size; ++i) bits |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    return bits;
}

// The bits as a signed number of `size` bytes.
std::int64_t SignExtend(std::uint64_t bits, std::size_t size) {
    if (size == 8) return static_cast<std::int64_t>(bits);
    const std::uint64_t sign = std::uint64_t{1} << (8 * size - 1);
    return static_cast<std::int64_t>((bits ^ sign) - sign);
}

double ReadFloat(ValueType type, const std::uint8_t* bytes) {
    if (type == ValueType::F32) {
        float value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    double value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

bool ParseInteger(ValueType type, const std::string& text, SearchValue& value, std::string& error) {
    const std::size_t size = Info(type).size;
    const bool negative = !text.empty() && text[0] == '-';
    const std::optional<std::uint64_t> magnitude = ParseAddress(negative ? text.substr(1) : text);
    if (!magnitude) {
        error = "not a whole number: " + text;
        return false;
    }
    const std::uint64_t top = size == 8 ? UINT64_MAX : (std::uint64_t{1} << (8 * size)) - 1;
    // Signed: down to -(top / 2 + 1) and up to top / 2; unsigned: 0 to top.
    const std::uint64_t limit = IsSigned(type) ? (top >> 1) + (negative ? 1 : 0) : negative ? 0 : top;
    if (*magnitude > limit) {
        error = std::string("out of the range of ") + Info(type).name + ": " + text;
        return false;
    }
    const std::uint64_t bits = negative ? (~*magnitude + 1) & top : *magnitude;
    PutLittleEndian(bits, size, value.bytes);
    return true;
}

// A decimal number, "[-]DIGITS[.DIGITS]", with the tolerance its last digit
// gives it.
bool ParseFloat(ValueType type, const std::string& text, SearchValue& value, std::string& error) {
    const std::size_t digitsFrom = !text.empty() && text[0] == '-' ? 1 : 0;
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(digitsFrom, point == std::string::npos ? std::string::npos : point - digitsFrom);
    const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    const auto digits = [](const std::string& part) { return part.find_first_not_of("0123456789") == std::string::npos; };
    if (whole.empty() || !digits(whole) || !digits(fraction) || (point != std::string::npos && fraction.empty())) {
        error = "not a decimal number: " + text;
        return false;
    }
    errno = 0;
    const double number = std::strtod(text.c_str(), nullptr);
    const double largest = type == ValueType::F32 ? std::numeric_limits<float>::max() : std::numeric_limits<double>::max();
    if (errno == ERANGE || !(std::fabs(number) <= largest)) {
        error = std::string("out of the range of ") + Info(type).name + ": " + text;
        return false;
    }
    value.number = number;
    value.tolerance = 0.5 * std::pow(10.0, -static_cast<double>(fraction.size()));
    value.bytes.assign(Info(type).size, 0);
    return true;
}

// The code points of valid UTF-8 text; false for anything else.
bool DecodeUtf8(const std::string& text, std::vector<std::uint32_t>& points) {
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t point = 0;
        if (!NextUtf8CodePoint(text, at, point)) return false;
        points.push_back(point);
    }
    return true;
}

void AppendUtf16(std::uint32_t point, std::vector<std::uint8_t>& bytes) {
    const auto unit = [&bytes](std::uint32_t u) {
        bytes.push_back(static_cast<std::uint8_t>(u));
        bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    if (point < 0x10000) {
        unit(point);
    } else {
        point -= 0x10000;
        unit(0xD800 + (point >> 10));
        unit(0xDC00 + (point & 0x3FF));
    }
}

bool ParseText(ValueType type, const std::string& text, SearchValue& value, std::string& error) {
    std::vector<std::uint32_t> points;
    if (text.empty() || !DecodeUtf8(text, points)) {
        error = text.empty() ? "the text to look for is empty" : "not valid UTF-8 text";
        return false;
    }
    if (type == ValueType::Utf8) {
        value.bytes.assign(text.begin(), text.end());
    } else {
        for (std::uint32_t point : points) AppendUtf16(point, value.bytes);
    }
    return true;
}

// Integers: each 128-byte block is tested with vector compares at once (most
// blocks hold no match), and only a block with a match is looked at lane by
// lane. Whole blocks start at aligned offsets, as the chunks do.
template <typename Lane>
void FindInteger(const SearchValue& value, std::uint64_t address, const std::uint8_t* data, std::size_t size,
                 std::size_t from, std::vector<std::size_t>& found) {
    typedef Lane Vector __attribute__((vector_size(16)));
    constexpr std::size_t kLanes = 16 / sizeof(Lane);
    constexpr std::size_t kBlock = 128;
    Lane wanted;
    std::memcpy(&wanted, value.bytes.data(), sizeof wanted);
    Vector needle;
    for (std::size_t i = 0; i < kLanes; ++i) needle[i] = wanted;
    std::size_t at = from + static_cast<std::size_t>((sizeof(Lane) - (address + from) % sizeof(Lane)) % sizeof(Lane));
    const auto lane = [&](std::size_t offset) {
        Lane held;
        std::memcpy(&held, data + offset, sizeof held);
        if (held == wanted) found.push_back(offset);
    };
    while (at + sizeof(Lane) <= size && at % kBlock != 0) {
        lane(at);
        at += sizeof(Lane);
    }
    for (; at + kBlock <= size; at += kBlock) {
        Vector a, b, c, d, e, f, g, h;
        std::memcpy(&a, data + at, 16);
        std::memcpy(&b, data + at + 16, 16);
        std::memcpy(&c, data + at + 32, 16);
        std::memcpy(&d, data + at + 48, 16);
        std::memcpy(&e, data + at + 64, 16);
        std::memcpy(&f, data + at + 80, 16);
        std::memcpy(&g, data + at + 96, 16);
        std::memcpy(&h, data + at + 112, 16);
        const Vector any = ((a == needle) | (b == needle)) | ((c == needle) | (d == needle)) |
                           ((e == needle) | (f == needle)) | ((g == needle) | (h == needle));
        typedef std::uint64_t Halves __attribute__((vector_size(16)));
        const Halves halves = (Halves)any;
        if ((halves[0] | halves[1]) == 0) continue;
        for (std::size_t k = 0; k < kBlock; k += sizeof(Lane)) lane(at + k);
    }
    for (; at + sizeof(Lane) <= size; at += sizeof(Lane)) lane(at);
}

}  // namespace

std::optional<ValueType> ParseValueType(const std::string& name) {
    for (const TypeInfo& info : kTypes) {
        if (name == info.name) return info.type;
    }
    return std::nullopt;
}

const char* ValueTypeName(ValueType type) { return Info(type).name; }

std::string ValueTypeNames() {
    std::string names;
    for (const TypeInfo& info : kTypes) names += std::string(names.empty() ? "" : " ") + info.name;
    return names;
}

bool IsText(ValueType type) { return type == ValueType::Utf8 || type == ValueType::Utf16; }

bool ParseSearchValue(ValueType type, const std::string& text, SearchValue& value, std::string& error) {
    value = SearchValue{};
    value.type = type;
    if (IsText(type)) return ParseText(type, text, value, error);
    if (IsFloat(type)) return ParseFloat(type, text, value, error);
    return ParseInteger(type, text, value, error);
}

std::size_t ValueSize(const SearchValue& value) { return value.bytes.size(); }

std::size_t ValueAlignment(ValueType type) {
    if (type == ValueType::Utf8) return 1;
    if (type == ValueType::Utf16) return 2;
    return Info(type).size;
}

bool HoldsValue(const SearchValue& value, const std::uint8_t* bytes) {
    if (IsFloat(value.type)) return std::fabs(ReadFloat(value.type, bytes) - value.number) <= value.tolerance;
    return std::memcmp(bytes, value.bytes.data(), value.bytes.size()) == 0;
}

void FindValue(const SearchValue& value, std::uint64_t address, const std::uint8_t* data, std::size_t size,
               std::size_t from, std::vector<std::size_t>& found) {
    const std::size_t length = ValueSize(value);
    if (length == 0 || size < length) return;
    if (IsText(value.type)) {
        const BytePattern pattern{value.bytes, std::vector<std::uint8_t>(length, 1)};
        const detail::PatternMatcher matcher(pattern);
        const std::size_t alignment = ValueAlignment(value.type);
        for (std::size_t at = from; at + length <= size;) {
            const std::size_t k = matcher.FindFirst(data + at, size - at);
            if (k == detail::kNoMatch) return;
            if ((address + at + k) % alignment == 0) found.push_back(at + k);
            at += k + 1;
        }
        return;
    }
    if (IsFloat(value.type)) {
        std::size_t at = from + static_cast<std::size_t>((length - (address + from) % length) % length);
        for (; at + length <= size; at += length) {
            if (HoldsValue(value, data + at)) found.push_back(at);
        }
        return;
    }
    switch (length) {
        case 1: FindInteger<std::uint8_t>(value, address, data, size, from, found); break;
        case 2: FindInteger<std::uint16_t>(value, address, data, size, from, found); break;
        case 4: FindInteger<std::uint32_t>(value, address, data, size, from, found); break;
        default: FindInteger<std::uint64_t>(value, address, data, size, from, found); break;
    }
}

std::optional<Change> ParseChange(const std::string& text) {
    if (text == "changed") return Change::Changed;
    if (text == "unchanged") return Change::Unchanged;
    if (text == "increased") return Change::Increased;
    if (text == "decreased") return Change::Decreased;
    return std::nullopt;
}

bool HasChanged(ValueType type, Change change, const std::uint8_t* before, const std::uint8_t* now, std::size_t size) {
    const bool same = std::memcmp(before, now, size) == 0;
    if (change == Change::Changed) return !same;
    if (change == Change::Unchanged) return same;
    if (IsText(type)) return false;
    int order;  // -1, 0, 1: now below, equal to, above before
    if (IsFloat(type)) {
        const double a = ReadFloat(type, before);
        const double b = ReadFloat(type, now);
        order = b < a ? -1 : b > a ? 1 : 0;
    } else if (IsSigned(type)) {
        const std::int64_t a = SignExtend(GetLittleEndian(before, size), size);
        const std::int64_t b = SignExtend(GetLittleEndian(now, size), size);
        order = b < a ? -1 : b > a ? 1 : 0;
    } else {
        const std::uint64_t a = GetLittleEndian(before, size);
        const std::uint64_t b = GetLittleEndian(now, size);
        order = b < a ? -1 : b > a ? 1 : 0;
    }
    return change == Change::Increased ? order > 0 : order < 0;
}

std::string DescribeValue(ValueType type, const std::uint8_t* bytes, std::size_t size) {
    char text[48];
    if (IsText(type)) {
        std::string shown = "\"";
        for (std::size_t i = 0; i < size; i += type == ValueType::Utf16 ? 2 : 1) {
            const unsigned unit = type == ValueType::Utf16 ? bytes[i] | (i + 1 < size ? bytes[i + 1] << 8 : 0) : bytes[i];
            if (unit >= 0x20 && unit < 0x7F && unit != '"' && unit != '\\') {
                shown += static_cast<char>(unit);
            } else {
                std::snprintf(text, sizeof text, type == ValueType::Utf16 ? "\\u%04x" : "\\x%02x", unit);
                shown += text;
            }
        }
        return shown + "\"";
    }
    if (IsFloat(type)) {
        std::snprintf(text, sizeof text, "%.9g", ReadFloat(type, bytes));
    } else if (IsSigned(type)) {
        std::snprintf(text, sizeof text, "%" PRId64, SignExtend(GetLittleEndian(bytes, size), size));
    } else {
        std::snprintf(text, sizeof text, "%" PRIu64, GetLittleEndian(bytes, size));
    }
    return text;
}
