// The one application-id rule, over the shared table of ids; the companion,
// the addon and launch registration each test that they apply it.

#include <gtest/gtest.h>

#include "companion/application_id.h"
#include "support/application_id_cases.h"

namespace {

TEST(ApplicationIdRule, AcceptsExactlyTheIdsThatNameTheirOwnScript) {
    for (const ApplicationIdCase& c : ApplicationIdCases()) {
        SCOPED_TRACE(::testing::PrintToString(c.id) + ": " + c.why);
        EXPECT_EQ(IsPlainApplicationId(c.id), c.accepted);
    }
}

}  // namespace
