// The real program on a desktop of its own: a set is built in the key
// editor from a folder of clips and from a ".zip" inside it, saved, read
// back byte for byte, and played again after a restart, heard on the
// program's JACK outputs.

#include "AppHarness.h"
#include "JackProbe.h"
#include "SoundEvents.h"
#include "ZipMaker.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

namespace e2e {
namespace {

constexpr float kThreshold = 0.05f;
// The tool panel's "Up one level" button, in the key editor's coordinates.
constexpr int kUpX = 19;
constexpr int kUpY = 17;

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The lines of a set file, each of which must end in CR CR LF.
std::vector<std::string> SetLines(const std::string& bytes, bool* wellEnded) {
  std::vector<std::string> lines;
  *wellEnded = true;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t end = bytes.find("\r\r\n", at);
    if (end == std::string::npos) {
      *wellEnded = false;
      lines.push_back(bytes.substr(at));
      break;
    }
    lines.push_back(bytes.substr(at, end - at));
    at = end + 3;
  }
  return lines;
}

class KeyEditorE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = std::make_unique<RunFolder>("keyeditor");
    ASSERT_FALSE(folder->Path().empty());
    desktop = std::make_unique<Desktop>(*folder);
    const std::string why = desktop->Start();
    ASSERT_TRUE(why.empty()) << why;
    settings = std::make_unique<StoredSettings>(folder->File("config"));
  }

  void TearDown() override {
    if (program) program->Stop();
    if (HasFailure()) {
      folder->Keep();
      std::cerr << "run folder kept: " << folder->Path() << "\n";
      if (program) std::cerr << "the program's output:\n" << program->LogTail();
    }
    ears.reset();
    desktop.reset();
  }

  void Tap(const std::string& key) {
    EXPECT_TRUE(desktop->KeyDown(key)) << key;
    EXPECT_TRUE(desktop->KeyUp(key)) << key;
  }

  std::string Window(const std::string& pattern) {
    std::string found;
    WaitUntil([&] {
      const auto windows = desktop->FindWindows(pattern);
      if (!windows.empty()) found = windows.front();
      return !found.empty();
    });
    if (found.empty()) {
      std::cerr << "no window matches " << pattern << "; the program "
                << (program && program->Running() ? "runs" : "has ended") << "; the windows are:\n";
      RunCommand({"xwd", "-root", "-silent", "-out", folder->File("screen.xwd")}, desktop->Env());
      for (const std::string& id : desktop->FindWindows(".*"))
        std::cerr << "  \"" << desktop->WindowTitle(id) << "\"\n";
    }
    return found;
  }

  void StartProgram() {
    program = std::make_unique<Program>(ProgramPath(), *folder);
    std::map<std::string, std::string> env = desktop->Env();
    env["XDG_CONFIG_HOME"] = settings->ConfigHome();
    env["XDG_CACHE_HOME"] = folder->File("cache");
    env["QT_QPA_PLATFORM"] = "xcb";
    ASSERT_TRUE(program->Start(env));
    const auto window = desktop->WaitForWindow("Tastivo");
    ASSERT_TRUE(window.has_value()) << "no window \"Tastivo\" appeared";
    main = *window;
  }

  // Builds the set through the key editor: row 3 gets the zip's kick.wav,
  // row 4 the folder's a.wav; then saves it by closing the set editor.
  void BuildSet() {
    clips = folder->File("clips");
    ASSERT_EQ(::mkdir(clips.c_str(), 0755), 0);
    std::string why = MakeTone(clips + "/a.wav", 2.0, 440);
    ASSERT_TRUE(why.empty()) << why;
    why = MakeTone(folder->File("kick.wav"), 2.0, 660);
    ASSERT_TRUE(why.empty()) << why;
    zip_maker::MakeZip(
        QString::fromStdString(clips + "/drums.zip"),
        {{"kick.wav", zip_maker::ReadFile(QString::fromStdString(folder->File("kick.wav")))}});
    setPath = folder->File("built.wql");
    ASSERT_TRUE(WriteSet(setPath, {SetRow{}}));
    settings->PreloadSet(0, setPath);
    settings->SetWindow(0, {});
    settings->SetText(0, "efolder", clips);
    ASSERT_NO_FATAL_FAILURE(StartProgram());

    // A key without a clip opens the set editor.
    ASSERT_TRUE(desktop->Activate(main));
    Tap("a");
    const std::string setEditor = Window("built\\.wql");
    ASSERT_FALSE(setEditor.empty()) << "the set editor did not open";
    ASSERT_TRUE(desktop->Activate(setEditor));
    // Row 3 (key "d") and its Edit, from the list's context menu.
    ASSERT_TRUE(desktop->Click(setEditor, 200, 200));
    Tap("ctrl+Home");
    for (int i = 0; i < 3; ++i) Tap("Down");
    Tap("Menu");
    Tap("Down");
    Tap("Down");
    Tap("Return");
    const std::string editor = Window("^Set Editor");
    ASSERT_FALSE(editor.empty()) << "the key editor did not come up in set editor mode";
    ASSERT_TRUE(desktop->Activate(editor));

    // Into the archive with the keyboard's search, and Add its clip.
    Tap("d");
    Tap("Return");
    Tap("Home");
    Tap("Return");
    // Back up to the folder, and Add its tone to the next row.
    ASSERT_TRUE(desktop->Click(editor, kUpX, kUpY));
    Tap("Home");
    Tap("Return");

    // Closing the set editor, as the window manager's close does, asks to
    // save: Yes. (The key that opened it would close it too, but the keyboard
    // is with the key editor now.)
    EXPECT_EQ(RunCommand({"wmctrl", "-i", "-c", setEditor}, desktop->Env()).status, 0);
    const std::string question = Window("^Tastivo:  Question");
    ASSERT_FALSE(question.empty()) << "no save question";
    ASSERT_TRUE(desktop->Activate(question));
    Tap("Return");
    ASSERT_TRUE(WaitUntil([&] { return ReadAll(setPath).find("kick.wav") != std::string::npos; }))
        << "the set was not saved";
  }

  // Holds key for a second in the main window; what the program's outputs
  // sounded from then on.
  std::vector<SoundSpan> Play(const std::string& key) {
    EXPECT_TRUE(desktop->Activate(main));
    const uint64_t down = ears->RecordedUntil();
    EXPECT_TRUE(desktop->KeyDown(key));
    ears->WaitForFrame(down + ears->SampleRate());
    EXPECT_TRUE(desktop->KeyUp(key));
    const uint64_t end = ears->RecordedUntil() + ears->SampleRate() / 2;
    EXPECT_TRUE(ears->WaitForFrame(end));
    return FindSounds(ears->Level(down, end, 0, 2), kThreshold, ears->SampleRate() / 10, down);
  }

  void RestartAndListen() {
    program->Stop();
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    ears = std::make_unique<JackProbe>("e2e-keyeditor-" + std::to_string(getpid()), 2, 30);
    ASSERT_TRUE(ears->Ok()) << ears->Error();
    ears->Follow("Tastivo", 0, 2);
  }

  std::unique_ptr<RunFolder> folder;
  std::unique_ptr<Desktop> desktop;
  std::unique_ptr<StoredSettings> settings;
  std::unique_ptr<Program> program;
  std::unique_ptr<JackProbe> ears;
  std::string main;
  std::string clips;
  std::string setPath;
};

TEST_F(KeyEditorE2e, ASetBuiltFromAFolderAndAZipIsSavedExactlyAndPlays) {
  ASSERT_NO_FATAL_FAILURE(BuildSet());

  bool wellEnded = false;
  const std::vector<std::string> lines = SetLines(ReadAll(setPath), &wellEnded);
  EXPECT_TRUE(wellEnded) << "a line does not end in CR CR LF";
  ASSERT_GE(lines.size(), 2u + 5 * 77);
  EXPECT_EQ(lines[0], "5");
  EXPECT_EQ(lines[1], "77");
  auto row = [&](int position) {
    return std::vector<std::string>(lines.begin() + 2 + 5 * position,
                                    lines.begin() + 2 + 5 * (position + 1));
  };
  const auto kick = row(3);
  EXPECT_EQ(kick[0], "kick.wav");
  EXPECT_TRUE(kick[1].size() > 19 &&
              kick[1].compare(kick[1].size() - 19, 19, "\\drums.zip\\kick.wav") == 0)
      << kick[1];
  EXPECT_EQ(kick[1].find('/'), std::string::npos) << kick[1];
  EXPECT_EQ(std::vector<std::string>(kick.begin() + 2, kick.end()),
            (std::vector<std::string>{"0", "10000", "100"}));
  const auto tone = row(4);
  EXPECT_EQ(tone[0], "a.wav");
  EXPECT_TRUE(tone[1].size() > 6 && tone[1].compare(tone[1].size() - 6, 6, "\\a.wav") == 0)
      << tone[1];
  EXPECT_EQ(std::vector<std::string>(tone.begin() + 2, tone.end()),
            (std::vector<std::string>{"0", "10000", "100"}));
  for (int position : {0, 1, 2, 5, 76})
    EXPECT_EQ(row(position), (std::vector<std::string>{"", "", "0", "10000", "100"})) << position;

  // After a restart the set comes back and both keys sound: the keyboard
  // window plays the clips the set found at load, relative paths
  // ("..\\clips\\a.wav") and paths through archives alike. Built once and
  // checked both ways, as driving the editor by its menus is the slow part.
  ASSERT_NO_FATAL_FAILURE(RestartAndListen());
  EXPECT_FALSE(Play("e").empty()) << "key e (a.wav) was not heard";
  EXPECT_FALSE(Play("d").empty()) << "key d (drums.zip\\kick.wav) was not heard";
}

}  // namespace
}  // namespace e2e
