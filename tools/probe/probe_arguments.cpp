#include "tools/probe/probe_arguments.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace {

constexpr std::uint32_t kMaxIntervalMs = 24u * 60u * 60u * 1000u;

bool AllOf(const std::string& text, std::size_t from, const char* digits) {
    return from < text.size() && text.find_first_not_of(digits, from) == std::string::npos;
}

// strtoull over text already checked to hold only digits of `base`.
std::optional<std::uint64_t> Convert(const std::string& digits, int base) {
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, base);
    if (errno == ERANGE) return std::nullopt;
    return static_cast<std::uint64_t>(value);
}

std::optional<std::uint64_t> ParseDecimal(const std::string& text) {
    if (!AllOf(text, 0, "0123456789")) return std::nullopt;
    return Convert(text, 10);
}

}  // namespace

std::optional<std::uint64_t> ParseAddress(const std::string& text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (!AllOf(text, 2, "0123456789abcdefABCDEF")) return std::nullopt;
        return Convert(text.substr(2), 16);
    }
    return ParseDecimal(text);
}

std::optional<std::uint32_t> ParseProcessId(const std::string& text) {
    const std::optional<std::uint64_t> value = ParseAddress(text);
    if (!value || *value == 0 || *value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

std::optional<std::uint64_t> ParseCount(const std::string& text) {
    const std::optional<std::uint64_t> value = ParseDecimal(text);
    if (!value || *value == 0) return std::nullopt;
    return value;
}

std::optional<std::uint32_t> ParseSecondsAsMilliseconds(const std::string& text) {
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (whole.empty() && fraction.empty()) return std::nullopt;
    if (!whole.empty() && !AllOf(whole, 0, "0123456789")) return std::nullopt;
    if (!fraction.empty() && !AllOf(fraction, 0, "0123456789")) return std::nullopt;
    // Whole seconds beyond a day are refused before they could overflow.
    if (whole.size() > 6) return std::nullopt;
    std::uint64_t ms = whole.empty() ? 0 : std::strtoull(whole.c_str(), nullptr, 10) * 1000;
    const std::string thousandths = (fraction + "000").substr(0, 3);
    ms += std::strtoull(thousandths.c_str(), nullptr, 10);
    if (ms < 1 || ms > kMaxIntervalMs) return std::nullopt;
    return static_cast<std::uint32_t>(ms);
}

bool SplitArguments(const std::vector<std::string>& arguments, const std::set<std::string>& valueOptions,
                    const std::set<std::string>& flagOptions, CommandArguments& split, std::string& error) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.rfind("--", 0) != 0) {
            split.positional.push_back(argument);
        } else if (flagOptions.count(argument) != 0) {
            split.flags.insert(argument);
        } else if (valueOptions.count(argument) != 0) {
            if (i + 1 == arguments.size()) {
                error = argument + " needs a value";
                return false;
            }
            split.values[argument] = arguments[++i];
        } else {
            error = "unknown option " + argument;
            return false;
        }
    }
    return true;
}
