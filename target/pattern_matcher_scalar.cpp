// The pattern matcher's processor-specific part where no vector filter is
// built: only the scalar loop is supported.
#include "target/pattern_matcher.h"

namespace detail {

bool PatternMatcher::Supports(MatcherFilter filter) {
    return filter == MatcherFilter::Scalar;
}

std::size_t PatternMatcher::FindVector(MatcherFilter, const std::uint8_t* data, std::size_t lastStart) const {
    return FindScalar(data, 0, lastStart);
}

}  // namespace detail
