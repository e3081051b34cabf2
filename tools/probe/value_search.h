#pragma once
// The typed values `scan` and `rescan` look for: the types, the text of a
// value, where a value lies in a chunk of memory, and how a value compares
// with the one read before.
//
// Numbers lie at addresses that are a multiple of their size, as compilers
// place them; text lies at any address (UTF-16 at even ones). A float
// matches when it rounds to the value as written: "2.5" matches what lies
// within 0.05 of 2.5, "100" what lies within 0.5 of 100.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class ValueType { I8, U8, I16, U16, I32, U32, I64, U64, F32, F64, Utf8, Utf16 };

// The type named as on the command line ("i32", "f64", "utf8", ...).
std::optional<ValueType> ParseValueType(const std::string& name);
const char* ValueTypeName(ValueType type);
// Every name, for a usage message: "i8 u8 ... utf16".
std::string ValueTypeNames();

bool IsText(ValueType type);

// A value to look for, from its text.
struct SearchValue {
    ValueType type = ValueType::I32;
    std::vector<std::uint8_t> bytes;  // numbers: little-endian; text: its encoding
    double number = 0;                // floats: the value
    double tolerance = 0;             // floats: half a unit of the last digit written
};

// False, with `error` set, for a text that is no value of the type (not a
// number, out of the type's range, empty text, invalid UTF-8).
bool ParseSearchValue(ValueType type, const std::string& text, SearchValue& value, std::string& error);

// The bytes a value of the type takes in memory (text: its encoding's).
std::size_t ValueSize(const SearchValue& value);
// The alignment of the addresses a value of the type is looked for at.
std::size_t ValueAlignment(ValueType type);

// Calls `found` with the offset of each place in data[0, size) where the
// value lies, at offsets from `from` on whose address (`address` + offset)
// is aligned, in ascending order.
void FindValue(const SearchValue& value, std::uint64_t address, const std::uint8_t* data, std::size_t size,
               std::size_t from, std::vector<std::size_t>& found);

// True when `bytes` (ValueSize of them) hold the value.
bool HoldsValue(const SearchValue& value, const std::uint8_t* bytes);

// How a candidate's value now compares with the one kept.
enum class Change { Changed, Unchanged, Increased, Decreased };

// "changed", "unchanged", "increased" or "decreased", or none.
std::optional<Change> ParseChange(const std::string& text);

// True when the value read now (`now`) has made the change against `before`,
// both `size` bytes of a value of `type`. Increased and decreased compare
// numbers as the type reads them and are never true for text.
bool HasChanged(ValueType type, Change change, const std::uint8_t* before, const std::uint8_t* now, std::size_t size);

// The value as text: a number as the type reads it, text in quotes.
std::string DescribeValue(ValueType type, const std::uint8_t* bytes, std::size_t size);
