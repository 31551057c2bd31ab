// The key editor's rules without a window: box corrections, which entries
// are entered, the path a set stores, and "Up one level".

#include "editor/KeyEditRules.h"

#include <gtest/gtest.h>

using namespace keyedit;

namespace {

struct Correction {
  const char* box;
  QString (*correct)(const QString&);
  const char* typed;
  const char* stored;
};

class BoxCorrection : public ::testing::TestWithParam<Correction> {};

TEST_P(BoxCorrection, IntegerThenEmptyThenRange) {
  const Correction& c = GetParam();
  EXPECT_EQ(c.correct(QString::fromUtf8(c.typed)), QString::fromUtf8(c.stored))
      << c.box << " typed \"" << c.typed << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    KeyEditRules, BoxCorrection,
    ::testing::Values(
        Correction{"Rate", &CorrectRate, "abc", "100"}, Correction{"Rate", &CorrectRate, "", "100"},
        Correction{"Rate", &CorrectRate, "0", "1"}, Correction{"Rate", &CorrectRate, "-7", "1"},
        Correction{"Rate", &CorrectRate, "1", "1"}, Correction{"Rate", &CorrectRate, "300", "300"},
        Correction{"Rate", &CorrectRate, "301", "300"},
        Correction{"Rate", &CorrectRate, "99999999999", "100"},
        Correction{"Min", &CorrectMin, "-5", "0"}, Correction{"Min", &CorrectMin, "x", "0"},
        Correction{"Min", &CorrectMin, "", "0"}, Correction{"Min", &CorrectMin, "20000", "20000"},
        Correction{"Max", &CorrectMax, "12000", "10000"},
        Correction{"Max", &CorrectMax, "10000", "10000"},
        Correction{"Max", &CorrectMax, "-5", "-5"}, Correction{"Max", &CorrectMax, "", "10000"},
        Correction{"Max", &CorrectMax, "1.5", "10000"}));

TEST(KeyEditRules, FoldersAndExactlyZipAreEnteredEverythingElseIsAFile) {
  EXPECT_TRUE(EntersLikeFolder("music"));
  EXPECT_TRUE(EntersLikeFolder("drums.zip"));
  EXPECT_FALSE(EntersLikeFolder("x.ZIP"));
  EXPECT_FALSE(EntersLikeFolder("x.Zip"));
  EXPECT_FALSE(EntersLikeFolder("kick.wav"));
  EXPECT_FALSE(EntersLikeFolder("archive.zip.wav"));
  EXPECT_EQ(ExtensionOf("a.b.mp3"), ".mp3");
  EXPECT_EQ(ExtensionOf("plain"), "");
}

struct Relative {
  const char* file;
  const char* program;
  const char* stored;
};

class RelativePath : public ::testing::TestWithParam<Relative> {};

TEST_P(RelativePath, IsWrittenFromTheProgramsFolder) {
  const Relative& r = GetParam();
  EXPECT_EQ(RelativeToProgram(QString::fromUtf8(r.file), QString::fromUtf8(r.program)),
            QString::fromUtf8(r.stored))
      << r.file << " from " << r.program;
}

INSTANTIATE_TEST_SUITE_P(
    KeyEditRules, RelativePath,
    ::testing::Values(
        // The worked examples.
        Relative{"C:\\Prog\\music\\a.mp3", "C:\\Prog", "music\\a.mp3"},
        Relative{"C:\\Music\\a.mp3", "C:\\Prog", "..\\Music\\a.mp3"},
        // Same folder, below it, beside it, another drive.
        Relative{"C:\\Prog\\a.mp3", "C:\\Prog", "a.mp3"},
        Relative{"C:\\Prog\\a\\b\\c.wav", "C:\\Prog\\", "a\\b\\c.wav"},
        Relative{"C:\\Other\\Deep\\c.wav", "C:\\Prog\\Bin", "..\\..\\Other\\Deep\\c.wav"},
        Relative{"D:\\Music\\a.mp3", "C:\\Prog", "D:\\Music\\a.mp3"},
        // Drive letters and folders of drive paths ignore letter case.
        Relative{"c:\\PROG\\music\\a.mp3", "C:\\Prog", "music\\a.mp3"},
        // Paths of this system, "/"-separated; archives are folders here.
        Relative{"/opt/tastivo/music/drums.zip/kick.wav", "/opt/tastivo",
                 "music\\drums.zip\\kick.wav"},
        Relative{"/opt/tastivo/a.wav", "/opt/tastivo", "a.wav"},
        Relative{"/opt/other/a.wav", "/opt/tastivo", "..\\other\\a.wav"},
        Relative{"/home/u/Music/a.wav", "/usr/bin", "..\\..\\home\\u\\Music\\a.wav"},
        // On a case-sensitive file system "Tastivo" is not "tastivo": one
        // taken for the other would store a path to another file.
        Relative{"/opt/Tastivo/a.wav", "/opt/tastivo", "..\\Tastivo\\a.wav"}));

TEST(KeyEditRules, UpOneLevelCutsAfterTheLastSeparatorAndARootStays) {
  EXPECT_EQ(UpOneLevel("C:\\Prog\\music"), "C:\\Prog\\");
  EXPECT_EQ(UpOneLevel("C:\\"), "C:\\");
  EXPECT_EQ(UpOneLevel("/home/u/Music"), "/home/u/");
  EXPECT_EQ(UpOneLevel("/home"), "/");
  EXPECT_EQ(UpOneLevel("/"), "/");
  EXPECT_EQ(UpOneLevel("/m/drums.zip/loops"), "/m/drums.zip/");
}

}  // namespace
