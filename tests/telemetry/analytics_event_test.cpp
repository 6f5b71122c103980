#include "telemetry/analytics_event.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <string_view>

namespace tovalo {
namespace {

// Each side of " - " is words separated by single spaces, the first word capitalised (short
// words such as "at" and "for" may stay lower-case further on).
bool isTitlePhrase(std::string_view phrase) {
    if (phrase.empty() || !std::isupper(static_cast<unsigned char>(phrase.front()))) {
        return false;
    }
    if (phrase.back() == ' ' || phrase.find("  ") != std::string_view::npos) {
        return false;
    }
    for (const char c : phrase) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != ' ') {
            return false;
        }
    }
    return true;
}

TEST(AnalyticsEventTest, EveryNameIsAreaDashActionInTitleCase) {
    for (const std::string_view name : AnalyticsEvent::all) {
        SCOPED_TRACE(name);
        const auto dash = name.find(" - ");
        ASSERT_NE(dash, std::string_view::npos);
        EXPECT_EQ(name.find(" - ", dash + 1), std::string_view::npos);
        EXPECT_TRUE(isTitlePhrase(name.substr(0, dash)));
        EXPECT_TRUE(isTitlePhrase(name.substr(dash + 3)));
    }
}

TEST(AnalyticsEventTest, NamesAreUnique) {
    std::set<std::string> seen;
    for (const std::string_view name : AnalyticsEvent::all) {
        EXPECT_TRUE(seen.emplace(name).second) << name;
    }
}

}  // namespace
}  // namespace tovalo
