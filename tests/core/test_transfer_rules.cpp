#include "app/core/PhotoRules.h"

#include <gtest/gtest.h>

namespace {

struct TDateCase
{
    const char* Value;
    const char* Folder;
};

class DayFolderFromExifDateTest : public ::testing::TestWithParam<TDateCase>
{
};

TEST_P(DayFolderFromExifDateTest, OnlyRealCalendarDaysNameAFolder)
{
    EXPECT_EQ(DayFolderFromExifDate(GetParam().Value), GetParam().Folder) << "value: " << GetParam().Value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, DayFolderFromExifDateTest,
    ::testing::Values(TDateCase{"2005:07:14 10:22:33", "20050714"}, TDateCase{"2005:07:14", "20050714"},
                      TDateCase{"2004:02:29 00:00:00", "20040229"},
                      TDateCase{"2000:02:29 00:00:00", "20000229"}, TDateCase{"1900:02:29 00:00:00", ""},
                      TDateCase{"2005:02:29 00:00:00", ""}, TDateCase{"2005:04:31 00:00:00", ""},
                      TDateCase{"2005:12:31 23:59:59", "20051231"}, TDateCase{"2005:13:01 00:00:00", ""},
                      TDateCase{"2005:00:10 00:00:00", ""}, TDateCase{"2005:07:00 00:00:00", ""},
                      TDateCase{"0000:00:00 00:00:00", ""}, TDateCase{"    :  :     :  :  ", ""},
                      TDateCase{"../../x", ""}, TDateCase{"../../../../etc/x", ""},
                      TDateCase{"2005/07/14 10:22:33", ""}, TDateCase{"2005-07-14 10:22:33", ""},
                      TDateCase{"2005:07:1", ""}, TDateCase{"2005:07", ""}, TDateCase{"", ""},
                      TDateCase{"2005:07:1x 10:22:33", ""}, TDateCase{"+005:07:14 10:22:33", ""}));

TEST(OrientationFromValue, OneDigitIsTakenAnythingElseIsNoOrientation)
{
    const std::pair<const char*, int> cases[] = {{"1", 1},   {"6", 6}, {"8", 8},  {"0", 0},
                                                 {"9", 9},   {"x", 0}, {"16", 0}, {"-6", 0},
                                                 {"6,1", 0}, {"", 0},  {" 6", 0}, {"6 ", 0}};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(OrientationFromValue(value), expected) << "value: '" << value << "'";
}

TEST(DayFolderFromDate, FormatsRealDaysWithLeadingZeros)
{
    EXPECT_EQ(DayFolderFromDate({2026, 1, 5}), "20260105");
    EXPECT_EQ(DayFolderFromDate({999, 12, 31}), "09991231");
    EXPECT_EQ(DayFolderFromDate({2026, 2, 29}), "");
    EXPECT_EQ(DayFolderFromDate({10000, 1, 1}), "");
    EXPECT_EQ(DayFolderFromDate({0, 1, 1}), "");
}

} // namespace
