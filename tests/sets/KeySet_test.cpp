#include "sets/KeySet.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <stdexcept>

namespace {

const char* const kCaptions[kPredefinedRows] = {
    "a  C",  "b  C#", "c   D", "d   D#", "e   E", "f   F", "g  F#", "h  G",  "i   G#", "j  A  ",
    "k  A#", "l  B",  "m  C",  "n  C#",  "o  D",  "p  D#", "q  E",  "r  F",  "s  F#",  "t  G",
    "u  G#", "v  A",  "w  A#", "x  B",   "y  C",  "z  C#", "0  D",  "1  D#", "2  E",   "3  F",
    "4  F#", "5  G",  "6  G#", "7  A",   "8  A#", "9  B",  "+ C",   "- C#",  "/ D",    "* D#",
    "A E",   "B F",   "C F#",  "D G",    "E G#",  "F A",   "G A#",  "H B",   "I C",    "J C#",
    "K D",   "L D#",  "M E",   "N F",    "O F#",  "P G",   "Q G#",  "R A",   "S A#",   "T B",
    "U C",   "V C#",  "W D",   "X D#",   "Y E",   "Z F",   "0 F#",  "1 G",   "2 G#",   "3 A",
    "4 A#",  "5 B",   "6 C",   "7 C#",   "8 D",   "9 D#",  "+ E"};

void ExpectDefaults(const KeyRow& row, int position) {
  EXPECT_EQ(row.index, QString::number(position + 1)) << position;
  EXPECT_EQ(row.Label, "") << position;
  EXPECT_EQ(row.File, "") << position;
  EXPECT_EQ(row.Min, "0") << position;
  EXPECT_EQ(row.Max, "10000") << position;
  EXPECT_EQ(row.Rate, "100") << position;
}

}  // namespace

TEST(KeySetRows, StartsWithTheSeventySevenCaptionsAtDefaults) {
  KeySet set;
  ASSERT_EQ(set.RowCount(), 77);
  for (int i = 0; i < kPredefinedRows; ++i) {
    EXPECT_EQ(set.Row(i).Key, QString::fromLatin1(kCaptions[i])) << "row " << i + 1;
    ExpectDefaults(set.Row(i), i);
  }
}

TEST(KeySetRows, ResetKeepsKeyAndIndexAndGrowthAddsBlankKeys) {
  KeySet set;
  set.SetCell(9, kLabelColumn, "drum");
  set.SetCell(9, kRateColumn, "250");
  set.ResetRow(9);
  EXPECT_EQ(set.Row(9).Key, "j  A  ");
  ExpectDefaults(set.Row(9), 9);

  set.GrowTo(80);
  ASSERT_EQ(set.RowCount(), 80);
  for (int i = 77; i < 80; ++i) {
    EXPECT_EQ(set.Row(i).Key, "");
    ExpectDefaults(set.Row(i), i);
  }
  set.GrowTo(10);  // never shrinks
  EXPECT_EQ(set.RowCount(), 80);
}

TEST(KeySetRows, RejectsPositionsOutsideTheSet) {
  KeySet set;
  EXPECT_THROW(set.Row(77), std::out_of_range);
  EXPECT_THROW(set.Row(-1), std::out_of_range);
  EXPECT_THROW(set.SetCell(0, kKeyColumnCount, "x"), std::out_of_range);
  EXPECT_THROW(PredefinedCaption(77), std::out_of_range);
}
