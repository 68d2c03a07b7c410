#include "base/message_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Short names stay whole (a cut that saves fewer characters than "..." adds is not made); long ones show
// their first 60 characters, never half of a UTF-8 character.
TEST(MessageName, ShowsTheStartOfLongNames) {
    EXPECT_EQ(messageName(""), "");
    EXPECT_EQ(messageName("load.png"), "load.png");
    EXPECT_EQ(messageName(std::string(63, 'a')), std::string(63, 'a'));
    EXPECT_EQ(messageName(std::string(64, 'a')), std::string(60, 'a') + "...");
    EXPECT_EQ(messageName(std::string(1 << 20, 'b')), std::string(60, 'b') + "...");
    // A two-byte character across the 60th byte is left out whole.
    const std::string accented = std::string(59, 'c') + "\xc3\xa9" + std::string(100, 'd');
    EXPECT_EQ(messageName(accented), std::string(59, 'c') + "...");
}

}  // namespace
