#include "app/core/CardVerdict.h"
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

namespace {

TPhotoRecord Record(const std::string& source, TPhotoOutcome outcome, TFailure failure = TFailure::None,
                    bool verified = false)
{
    TPhotoRecord r;
    r.Source = source;
    r.Outcome = outcome;
    if (failure != TFailure::None)
        r.Reason = TResult::Fail(failure, source);
    r.Verified = verified;
    return r;
}

// The card may be formatted only when every file below DCIM is in the target and verified; anything else
// stays, counted by reason.
TEST(JudgeCard, OnlyEveryFileVerifiedInTheTargetLetsTheCardBeFormatted)
{
    using enum TPhotoOutcome;
    const std::vector<TPhotoRecord> records = {Record("D/a.jpg", Transferred),
                                               Record("D/b.JPG", Turned),
                                               Record("D/c.jpg", TurnFailed),
                                               Record("D/d.jpg", Skipped, TFailure::Exists, true),
                                               Record("D/e.jpg", Skipped, TFailure::Exists),
                                               Record("D/f.jpg", Failed, TFailure::NoSpace),
                                               Record("D/g.jpg", Failed, TFailure::Io)};
    const struct
    {
        std::vector<std::string> Files;
        int Unreadable;
        bool Moved;
        int Stays;
        std::string Text;
    } cases[] = {
        {{"D/a.jpg", "D/b.JPG", "D/c.jpg", "D/d.jpg"},
         0,
         false,
         0,
         "card may be formatted: every file below DCIM is in the target and verified"},
        {{}, 0, false, 0, "card may be formatted: every file below DCIM is in the target and verified"},
        {{"D/a.jpg", "D/e.jpg", "D/f.jpg", "D/g.jpg", "D/new.jpg"},
         1,
         false,
         5,
         "card must not be formatted: 5 of 5 files stay on the card; failed: 1 x input/output error, 1 x no "
         "space left; not "
         "begun: 1; not verified in the target: 1; folders that cannot be read: 1"},
        {{"D/x.CR2", "D/y.CR2", "D/z.MP4", "D/w.jpeg", "D/.hidden", "D/noext"},
         0,
         false,
         6,
         "card must not be formatted: 6 of 6 files stay on the card; not JPEG photos: 1 x (none), 2 x .CR2, "
         "1 x .MP4, 1 x .hidden, 1 x .jpeg"},
        {{"D/a.jpg"},
         0,
         true,
         0,
         "card may be formatted: every file below DCIM is in the target and verified; stayed on the "
         "card (copies verified): 1; turned copies whose original was moved (the full-size "
         "original is not kept): 1"},
    };
    for (const auto& c : cases) {
        const TCardVerdict v =
            JudgeCard(c.Files, std::vector<TResult>(static_cast<size_t>(c.Unreadable)), records, c.Moved);
        EXPECT_EQ(v.Stays(), c.Stays) << c.Text;
        EXPECT_EQ(v.MayBeFormatted(), c.Stays == 0) << c.Text;
        EXPECT_EQ(v.Text(), c.Text);
    }
}

} // namespace
