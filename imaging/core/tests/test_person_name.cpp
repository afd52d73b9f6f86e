// Person names as shown: trailing empty groups and components go, everything else stays.
#include "isPersonName.h"

#include <gtest/gtest.h>

using isImageSDK::displayPersonName;

TEST(PersonName, TrailingEmptyGroupsAndComponentsAreNotShown)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Wang^XiaoDong=王^小東=", "Wang^XiaoDong=王^小東"},
        {"Wang^XiaoDong=王^小東==", "Wang^XiaoDong=王^小東"},
        {"DOE^JOHN^^^", "DOE^JOHN"},
        {"DOE^JOHN^^^=", "DOE^JOHN"},
        {"Yamada^Tarou=山田^太郎^=やまだ^たろう", "Yamada^Tarou=山田^太郎=やまだ^たろう"},
        // An empty group before a filled one keeps its place; inner empty components stay.
        {"=王^小東", "=王^小東"},
        {"Yamada^Tarou==やまだ^たろう", "Yamada^Tarou==やまだ^たろう"},
        {"DOE^^Q", "DOE^^Q"},
        {"^JOHN", "^JOHN"},
        {"^=^", ""},
        {"=", ""},
        {"", ""},
        {"ROE", "ROE"},
    };
    for (const auto& [stored, shown] : cases)
        EXPECT_EQ(displayPersonName(stored), shown) << stored;
}
