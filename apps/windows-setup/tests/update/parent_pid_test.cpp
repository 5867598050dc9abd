#include "update/parent_pid.hpp"

#include <gtest/gtest.h>

#include <string>

namespace mirel {
namespace {

TEST(ParseParentPid, DecimalNumbersWithOptionalPlusAndLeadingZeros) {
    EXPECT_EQ(parse_parent_pid("812"), 812u);
    EXPECT_EQ(parse_parent_pid("+812"), 812u);
    EXPECT_EQ(parse_parent_pid("0812"), 812u);
    EXPECT_EQ(parse_parent_pid("+0812"), 812u);
    EXPECT_EQ(parse_parent_pid("0"), 0u);  // a number; the hand-over itself refuses it
    EXPECT_EQ(parse_parent_pid("4294967295"), 4294967295u);
    EXPECT_EQ(parse_parent_pid(std::string(5000, '0') + "4294967295"), 4294967295u);
    EXPECT_EQ(parse_parent_pid(std::string(5000, '0')), 0u);
}

TEST(ParseParentPid, ValuesAbove32BitsAreNotNumbers) {
    EXPECT_EQ(parse_parent_pid("4294967296"), std::nullopt);
    EXPECT_EQ(parse_parent_pid("+4294967296"), std::nullopt);
    EXPECT_EQ(parse_parent_pid("99999999999999999999999999"), std::nullopt);  // would wrap 64 bits
    EXPECT_EQ(parse_parent_pid("18446744073709551617"), std::nullopt);        // 2^64 + 1
    EXPECT_EQ(parse_parent_pid(std::string(100, '9')), std::nullopt);
}

TEST(ParseParentPid, SignsBlanksAndOtherCharactersAreRefused) {
    for (const char* text : {"", "+", "-", "-5", "-0", "++1", "+-1", "1+", " 12", "12 ", "1 2", "\t12", "12a",
                             "0x10", "１２", "12\n"}) {
        EXPECT_EQ(parse_parent_pid(text), std::nullopt) << '"' << text << '"';
    }
    EXPECT_EQ(parse_parent_pid(std::string("12\0", 3)), std::nullopt);
}

}  // namespace
}  // namespace mirel
