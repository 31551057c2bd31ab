#include "app/PlayRules.h"
#include "app/ClipDrop.h"

#include <gtest/gtest.h>

#include <tuple>

using app::ComputerKeyIndex;
using app::EndOfClip;
using app::EndOfClipAction;

TEST(ComputerKeys, LettersDigitsAndSignsMapToTheRowsOfTheirKeys) {
  EXPECT_EQ(ComputerKeyIndex('a'), 0);
  EXPECT_EQ(ComputerKeyIndex('f'), 5);
  EXPECT_EQ(ComputerKeyIndex('z'), 25);
  EXPECT_EQ(ComputerKeyIndex('0'), 26);
  EXPECT_EQ(ComputerKeyIndex('9'), 35);
  EXPECT_EQ(ComputerKeyIndex('+'), 36);
  EXPECT_EQ(ComputerKeyIndex('-'), 37);
  EXPECT_EQ(ComputerKeyIndex('/'), 38);
  EXPECT_EQ(ComputerKeyIndex('*'), 39);
  EXPECT_EQ(ComputerKeyIndex('A'), 40);
  EXPECT_EQ(ComputerKeyIndex('Z'), 65);
}

TEST(ComputerKeys, EverythingElsePlaysNothing) {
  for (QChar c : {QChar('='), QChar(' '), QChar('.'), QChar(0xE9), QChar('\r'), QChar(0)})
    EXPECT_EQ(ComputerKeyIndex(c), -1) << int(c.unicode());
}

class EndOfClipTable : public ::testing::TestWithParam<std::tuple<bool, bool, bool, EndOfClip>> {};

TEST_P(EndOfClipTable, DecidesWhatTheStopMarkDoes) {
  const auto [loop, sustain, held, expected] = GetParam();
  EXPECT_EQ(EndOfClipAction(true, loop, sustain, held), expected);
  // A clip that is not playing is left alone, whatever the boxes say.
  EXPECT_EQ(EndOfClipAction(false, loop, sustain, held), EndOfClip::Nothing);
}

INSTANTIATE_TEST_SUITE_P(Rows, EndOfClipTable,
                         ::testing::Values(std::make_tuple(true, false, true, EndOfClip::Restart),
                                           std::make_tuple(true, true, true, EndOfClip::Restart),
                                           std::make_tuple(true, true, false, EndOfClip::Restart),
                                           std::make_tuple(true, false, false, EndOfClip::Nothing),
                                           std::make_tuple(false, true, true, EndOfClip::Stop),
                                           std::make_tuple(false, true, false, EndOfClip::Stop),
                                           std::make_tuple(false, false, true, EndOfClip::Nothing),
                                           std::make_tuple(false, false, false,
                                                           EndOfClip::Nothing)));

// A note is started on the output only for what the window's rules play:
// a row they would not play (no clip, a clip not found, a mark or rate that
// is no number) must never be armed; a head is read at the row's rate as
// the window's bar sets it.
TEST(KeyVerdict, OnlyARowThatPlaysIsArmedAndItsHeadIsReadAtItsRate) {
  using app::KeyVerdict;
  EXPECT_EQ(app::KeyVerdictOf("a.wav", "", "0", "10000", "100"), KeyVerdict::Plays);
  EXPECT_EQ(app::KeyVerdictOf("a.wav", "", " 2500 ", "10000", " 150"), KeyVerdict::Plays);
  EXPECT_EQ(app::KeyVerdictOf("", "", "0", "10000", "100"), KeyVerdict::Silent);
  EXPECT_EQ(app::KeyVerdictOf("a.wav", "not found in /x", "0", "10000", "100"), KeyVerdict::Silent);
  EXPECT_EQ(app::KeyVerdictOf("a.wav", "", "x", "10000", "100"), KeyVerdict::Silent);
  EXPECT_EQ(app::KeyVerdictOf("a.wav", "", "0", "", "100"), KeyVerdict::Silent);
  EXPECT_EQ(app::KeyVerdictOf("a.wav", "", "0", "10000", "1.5"), KeyVerdict::Silent);
  EXPECT_EQ(app::KeyRateOf(" 100"), 1.0);
  EXPECT_EQ(app::KeyRateOf("900"), app::RateOfPosition(300));  // as far as the bar goes
  EXPECT_EQ(app::KeyRateOf("0"), app::RateOfPosition(1));
}

// Past its stop mark the window's clip has ended or looped: a head that
// would sound beyond it is not armed.
TEST(KeyVerdict, AHeadIsArmedOnlyWhereItEndsBeforeTheStopMark) {
  constexpr std::int64_t kSecond = 1000000000, kHead = kSecond / 4;
  EXPECT_TRUE(app::HeadWithinMarks(4 * kSecond, 0, 10000, kHead));
  EXPECT_TRUE(app::HeadWithinMarks(4 * kSecond, 2000, 2625, kHead));
  EXPECT_FALSE(app::HeadWithinMarks(4 * kSecond, 2000, 2600, kHead));
  EXPECT_FALSE(app::HeadWithinMarks(4 * kSecond, 5000, 5000, kHead));
  EXPECT_FALSE(app::HeadWithinMarks(4 * kSecond, 6000, 5000, kHead));  // shown at Max, both
  EXPECT_FALSE(app::HeadWithinMarks(0, 0, 10000, kHead));              // length not known
}

TEST(ApplyRate, SetsNormalSpeedThenTheRateUntilThePlayerAgrees) {
  std::vector<double> calls;
  double current = 1.0;
  int answers = 0;
  // A player that needs two tries before it takes the rate.
  const int attempts = app::SetRateUntilExact(
      0.5, [&](double r) { calls.push_back(r); }, [&] { return ++answers < 2 ? current : 0.5; });
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(calls, (std::vector<double>{1.0, 0.5, 1.0, 0.5}));
}

TEST(ApplyRate, GivesUpOnAPlayerThatNeverReportsTheRate) {
  int sets = 0;
  const int attempts = app::SetRateUntilExact(
      3.0, [&](double) { ++sets; }, [] { return 2.999; });
  EXPECT_EQ(attempts, app::kRateAttempts);
  EXPECT_EQ(sets, 2 * app::kRateAttempts);
}

TEST(ApplyRate, AnErrorOfThePlayerEndsTheAttempt) {
  int sets = 0;
  EXPECT_THROW(app::SetRateUntilExact(
                   2.0,
                   [&](double) {
                     if (++sets == 2) throw std::runtime_error("rate refused");
                   },
                   [] { return 2.0; }),
               std::runtime_error);
  EXPECT_EQ(sets, 2);
}

TEST(Hints, VolumeCountsDownFromTheTopAndRateInPercent) {
  EXPECT_EQ(app::VolumeHint(30), "Volume 70/100");
  EXPECT_EQ(app::VolumeHint(0), "Volume 100/100");
  EXPECT_EQ(app::VolumeHint(100), "Volume 0/100");
  EXPECT_EQ(app::RateHint(100), "Rate 100/100");
  EXPECT_EQ(app::RateHint(1), "Rate 1/100");
  EXPECT_DOUBLE_EQ(app::RateOfPosition(300), 3.0);
  EXPECT_DOUBLE_EQ(app::RateOfPosition(1), 0.01);
}

TEST(Hints, SitBesideTheCursorAndHideOutsideTheKeyboard) {
  EXPECT_EQ(app::HintRectAt(QSize(50, 16), QPoint(100, 200)), QRect(110, 220, 50, 16));
  const QRect keyboard(16, 110, 567, 80);
  EXPECT_TRUE(app::StrictlyInside(keyboard, QPoint(17, 111)));
  EXPECT_FALSE(app::StrictlyInside(keyboard, QPoint(16, 150)));   // left edge
  EXPECT_FALSE(app::StrictlyInside(keyboard, QPoint(583, 150)));  // left + width
  EXPECT_FALSE(app::StrictlyInside(keyboard, QPoint(300, 190)));  // top + height
}

TEST(Captions, VideoCaptionNumbersEveryWindowButTheFirst) {
  EXPECT_EQ(app::VideoCaptionFor(0, "Intro"), "Tastivo : Intro");
  EXPECT_EQ(app::VideoCaptionFor(3, "Intro"), "Tastivo 3: Intro");
  EXPECT_EQ(app::WindowName(0), "Tastivo");
  EXPECT_EQ(app::WindowName(2), "Tastivo 2");
  EXPECT_EQ(app::Hundredths(2055000000), 20550);
}

TEST(ClipDrop, ClipsGoOnTheKeyAndTheKeysAfterItWholeOrNotAtAll) {
  const QStringList clips = {"/show/clips/kick.wav", "/show/clips/hat.ogg"};
  const std::vector<app::DroppedRow> rows = app::PlaceDroppedClips(clips, 75, 77, "/show/bin");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].position, 76);
  EXPECT_EQ(rows[1].File, "..\\clips\\hat.ogg");
  EXPECT_EQ(rows[1].Label, "hat.ogg");
  EXPECT_TRUE(app::PlaceDroppedClips(clips, 76, 77, "/show/bin").empty());  // one past the end
  EXPECT_TRUE(app::PlaceDroppedClips(clips, -1, 77, "/show/bin").empty());
  EXPECT_EQ(app::DroppedSetFile({"/a/kick.wav", "/a/Live.WQL", "/a/b.wql"}), "/a/Live.WQL");
}
