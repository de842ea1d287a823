#include "base/StringList.h"

#include <gtest/gtest.h>

TEST(TStringList, SortedListIgnoresCaseAndEqualLines)
{
    TStringList list;
    list.SetSorted(true);
    list.Add("Orientation=6");
    list.Add("make=Canon");
    list.Add("Orientation=1");
    list.Add("XResolution=72/1");
    list.Add("XResolution=72/1");
    list.Add("Make=Canon");
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list[0], "make=Canon");
    EXPECT_EQ(list[1], "Orientation=1");
    EXPECT_EQ(list[2], "Orientation=6");
    EXPECT_EQ(list[3], "XResolution=72/1");
}

TEST(TStringList, PlainListKeepsAppendOrderAndDuplicates)
{
    TStringList list;
    int changes = 0;
    list.OnChange = [&] { ++changes; };
    list.BeginUpdate();
    list.Add("b");
    list.Add("a");
    list.Add("b");
    EXPECT_EQ(changes, 0);
    list.EndUpdate();
    EXPECT_EQ(changes, 1);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0], "b");
    EXPECT_EQ(list[2], "b");
}
