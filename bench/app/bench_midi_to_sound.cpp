// From a MIDI note on the JACK graph to the first frame of the key's clip on
// the program's JACK output, measured on the server's own frame clock; beside
// it, the same path through a tiny in-graph instrument as the floor. Then
// the program's CPU use while one and while eight windows play.
//
// Runs under scripts/with-test-services.sh (a JACK dummy server at
// 48 kHz / 256 frames). The latency part runs the program offscreen; the
// part with eight windows needs New clicked, so it runs on an X display of
// its own with a window manager.

#include "AppHarness.h"
#include "JackProbe.h"
#include "ProcStatus.h"
#include "SoundEvents.h"
#include "ToneSets.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>

namespace {

using namespace e2e;

constexpr float kThreshold = 0.05f;
constexpr int kNotes = 60;
constexpr int kWarmUp = 3;  // notes before the measured ones: the first clip opens the output

struct Latencies {
  std::vector<double> frames;
  int missed = 0;
  // Notes whose first sound was not their own clip (a rest of the one before).
  int stale = 0;
};

// The notes alternate between two clips far apart in pitch, so that the
// first frame of a note's own clip is told from a rest of the clip before.
constexpr double kLowHertz = 300, kHighHertz = 3000;

// True when the period of sound from `at` is the high clip.
bool IsHigh(const JackProbe& ears, uint64_t at, int channel) {
  const std::vector<float> block = ears.Samples(channel, at, at + ears.Period());
  int crossings = 0;
  for (std::size_t i = 1; i < block.size(); ++i) crossings += block[i - 1] < 0 && block[i] >= 0;
  // 256 frames at 48 kHz hold about 1.6 cycles of the low clip, 16 of the high.
  const double split = std::sqrt(kLowHertz * kHighHertz);
  return crossings > split * static_cast<double>(block.size()) / ears.SampleRate();
}

// Put before every figure's name: in a sweep of period sizes, the period's
// ("p64_"), so the sizes' figures stand side by side in one run.
std::string namePrefix;

void Print(const std::string& name, double value, const char* unit) {
  std::printf("%s%s: %.2f %s\n", namePrefix.c_str(), name.c_str(), value, unit);
  std::fflush(stdout);
}

// Waits until `probe` has heard `seconds` of silence on inputs from `first`
// (count), or the deadline passes.
bool WaitForSilence(const JackProbe& probe, double seconds, int first = 0, int count = 0) {
  const auto quiet = static_cast<uint64_t>(seconds * probe.SampleRate());
  return WaitUntil(
      [&] {
        const uint64_t now = probe.RecordedUntil();
        if (now < quiet) return false;
        const std::vector<float> level = probe.Level(now - quiet, now, first, count);
        return CountSounding(level, kThreshold) == 0;
      },
      5s);
}

// The note-ons of `count` presses alternating between the low clip's note
// and the high one's.
std::vector<int> Alternating(std::array<int, 2> notes, int count) {
  std::vector<int> sequence;
  for (int i = 0; i < count; ++i) sequence.push_back(notes[i % 2]);
  return sequence;
}

// Plays the note-ons of `notes` from `keyboard`, each after silence, and
// finds on `ears` the first frame of each note's own clip; both probes run
// on the server's frame clock from origins of their own, so `keyboard`'s
// frames are moved onto `ears`' timeline. With `checkClip` the notes
// alternate between the low clip and the high one (Alternating), and only
// the note's own clip counts; else any sound does (the floor's instrument
// has one sound for every note; distinct clips after silence). The first
// `warmUp` notes are not counted.
Latencies Measure(JackProbe& keyboard, const JackProbe& ears, const std::vector<int>& notes,
                  bool checkClip, int first = 0, int inputs = 0, int warmUp = kWarmUp) {
  Latencies result;
  for (int i = 0; i < static_cast<int>(notes.size()); ++i) {
    const int note = notes[i];
    const bool high = i % 2 == 1;
    WaitForSilence(ears, 0.1, first, inputs);
    // The origins' difference, taken modulo JACK's 32-bit frame counter.
    const auto shift = static_cast<int64_t>(
        static_cast<int32_t>(static_cast<jack_nframes_t>(keyboard.Origin() - ears.Origin())));
    const auto sent = keyboard.SendMidi(0x90, static_cast<unsigned char>(note), 100);
    if (!sent) {
      ++result.missed;
      continue;
    }
    const uint64_t at = static_cast<uint64_t>(static_cast<int64_t>(*sent) + shift);
    std::optional<uint64_t> onset;
    bool stale = false;
    WaitUntil(
        [&] {
          const uint64_t now = ears.RecordedUntil();
          const std::vector<float> level = ears.Level(at, now, first, inputs);
          for (uint64_t from = at; (onset = FindOnset(level, kThreshold, 0, from, at));
               from = *onset + ears.Period() / 4) {
            if (*onset + ears.Period() > now) return false;  // wait for a whole period
            if (!checkClip || IsHigh(ears, *onset, first) == high) return true;
            stale = true;
          }
          return false;
        },
        2s);
    keyboard.SendMidi(0x80, static_cast<unsigned char>(note), 0);
    if (!onset) {
      ++result.missed;
    } else if (i >= warmUp) {
      result.frames.push_back(static_cast<double>(*onset - at));
      result.stale += stale ? 1 : 0;
    }
  }
  return result;
}

// The CPU use of `pid` in % of one core, over 10 s of the server's clock
// after a first second of playing, printed as `name`; beside it each
// thread's share (threads of one name summed; from /proc's ticks, so a guide
// only), the largest first.
void PrintCpu(const std::string& name, pid_t pid, const JackProbe& clock) {
  const auto rate = static_cast<uint64_t>(clock.SampleRate());
  clock.WaitForFrame(clock.RecordedUntil() + rate);
  std::cerr << name << ": measuring for 10 s\n";
  const double before = CpuSeconds(pid);
  const std::map<std::string, long long> threadsBefore = ThreadTicks(pid);
  const auto wallFrom = std::chrono::steady_clock::now();
  clock.WaitForFrame(clock.RecordedUntil() + 10 * rate);
  const double after = CpuSeconds(pid);
  const std::map<std::string, long long> threadsAfter = ThreadTicks(pid);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallFrom).count();
  if (before < 0 || after < 0 || wall <= 0) {
    std::cerr << name << ": not measured, the program's /proc entry could not be read\n";
    return;
  }
  const auto percent = [&](long long ticks) {
    return 100.0 * static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK)) / wall;
  };
  Print(name, 100.0 * (after - before) / wall, "%");
  std::vector<std::pair<long long, std::string>> threads;
  for (const auto& [thread, ticks] : threadsAfter) {
    const auto was = threadsBefore.find(thread);
    const long long spent = ticks - (was == threadsBefore.end() ? 0 : was->second);
    if (spent > 0) threads.emplace_back(spent, thread);
  }
  std::sort(threads.rbegin(), threads.rend());
  for (auto [ticks, thread] : threads) {
    for (char& c : thread)
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    Print(name + "_thread_" + thread, percent(ticks), "%");
  }
}

std::map<std::string, std::string> ProgramEnv(const StoredSettings& settings) {
  return {{"XDG_CONFIG_HOME", settings.ConfigHome()}};
}

// Sound on the inputs from `first` (count) right now, within `seconds`.
bool Sounding(const JackProbe& probe, double seconds, int first, int count) {
  return WaitUntil(
      [&] {
        const uint64_t now = probe.RecordedUntil();
        const auto span = static_cast<uint64_t>(0.05 * probe.SampleRate());
        if (now < span) return false;
        return CountSounding(probe.Level(now - span, now, first, count), kThreshold) > 0;
      },
      std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
}

// The program's resident memory: all of it, and without the JACK server's
// shared memory that every JACK client maps (about 100 MB on the test
// server), which is not the program's own.
void PrintResident(const std::string& name, pid_t pid) {
  Print(name, StatusMb(pid, "VmRSS"), "MB");
  Print(name + "_own", StatusMb(pid, "VmRSS") - StatusMb(pid, "RssShmem"), "MB");
}

constexpr int kFirstPressKeys = 36;

// What every part of the run shares: its folder, the program, the MIDI
// source the program listens to, the server's clock and the three-clip set.
struct Run {
  RunFolder& folder;
  // Only what the sweep over period sizes measures: the program as it
  // plays, and the cued first and second presses.
  bool sweep;
  std::string program;
  std::string tag;
  JackProbe& keyboard;
  double period;
  double rate;
  std::string set;
};

void PrintLatencies(const Run& run, const std::string& name, const std::vector<double>& frames) {
  if (frames.empty()) {
    std::cerr << name << ": no note sounded\n";
    return;
  }
  Print(name + "_p50", Percentile(frames, 50) / run.rate * 1000, "ms");
  Print(name + "_p99", Percentile(frames, 99) / run.rate * 1000, "ms");
  Print(name + "_p50_periods", Percentile(frames, 50) / run.period, "periods");
  Print(name + "_p99_periods", Percentile(frames, 99) / run.period, "periods");
}

// The program's environment offscreen, with one window as `window` says that
// loads `set`, its settings in config folder `config` of the run's.
std::map<std::string, std::string> OffscreenEnv(const Run& run, const std::string& config,
                                                const std::string& set,
                                                const WindowSettings& window) {
  StoredSettings settings(run.folder.File(config));
  settings.PreloadSet(0, set);
  settings.SetWindow(0, window);
  auto env = ProgramEnv(settings);
  env["QT_QPA_PLATFORM"] = "offscreen";
  return env;
}

// With the program's key trace on ($TASTIVO_KEY_TRACE), the median time from
// a note's arrival in the program to each stage of its way, from the lines
// the program logged at `logPath`.
void PrintKeyTrace(const std::string& name, const std::string& logPath) {
  if (std::getenv("TASTIVO_KEY_TRACE") == nullptr) return;
  std::map<std::string, std::vector<double>> stages;
  std::vector<std::string> order;
  std::ifstream in(logPath);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("key-trace:", 0) != 0) continue;
    std::istringstream words(line.substr(10));
    for (std::string word; words >> word;) {
      const auto equals = word.find('=');
      if (equals == std::string::npos) continue;
      const std::string stage = word.substr(0, equals);
      if (!stages.count(stage)) order.push_back(stage);
      auto& values = stages[stage];
      if (word.substr(equals + 1) != "-") values.push_back(std::atof(word.c_str() + equals + 1));
    }
  }
  for (const std::string& stage : order)
    if (!stages[stage].empty())
      Print(name + "_trace_" + stage + "_p50", Percentile(stages[stage], 50), "ms");
}

// A part that fails leaves the run's figures incomplete; one that aborts
// leaves nothing worth measuring after it.
enum class Outcome { kOk, kFailed, kAbort };

// The floor first: an in-graph instrument answering the same kind of
// notes. Its ports are gone before the program looks for MIDI sources.
int MeasureFloor(const Run& run, double& floorP50) {
  const std::string& tag = run.tag;
  const double period = run.period;
  const double rate = run.rate;
  JackAnswerer answerer("bench-floor-" + tag);
  JackProbe floorKeys("bench-floor-keys-" + tag, 1, 5);
  JackProbe floorEars("bench-floor-ears-" + tag, 1, 60);
  if (answerer.Ok() && floorKeys.Ok() && floorEars.Ok() &&
      floorKeys.ConnectMidiTo(answerer.MidiInName()) &&
      floorEars.ListenTo("bench-floor-" + tag) > 0) {
    floorEars.WaitForFrame(floorEars.RecordedUntil() + 2 * floorEars.Period());
    const Latencies floor =
        Measure(floorKeys, floorEars, Alternating({60, 60}, kWarmUp + kNotes), false);
    floorP50 = Percentile(floor.frames, 50);
    Print("midi_to_sound_floor_p50_periods", floorP50 / period, "periods");
    Print("midi_to_sound_floor_p50", floorP50 / rate * 1000, "ms");
  } else {
    std::cerr << "the floor instrument could not be set up\n";
    return 1;
  }
  return 0;
}

// The program offscreen, one window with MIDI input on: first with the
// sound cut hard at every stop ($TASTIVO_NO_FADES), the figure to compare
// with; then on GStreamer's own JACK sink, whose fades the window waits
// for ($TASTIVO_STOCK_JACK_OUTPUT); then as it plays, on our output, with
// a short ramp at each cut.
Outcome MeasureProgram(const Run& run, double floorP50) {
  RunFolder& folder = run.folder;
  const std::string& program = run.program;
  const std::string& tag = run.tag;
  JackProbe& keyboard = run.keyboard;
  const double rate = run.rate;
  const std::string& set = run.set;
  Outcome outcome = Outcome::kOk;
  double hardCutP50 = 0;
  enum class Variant { HardCut, StockSink, AsItPlays };
  for (const Variant variant : {Variant::HardCut, Variant::StockSink, Variant::AsItPlays}) {
    if (run.sweep && variant != Variant::AsItPlays) continue;
    const bool fades = variant != Variant::HardCut;
    const std::string name = variant == Variant::AsItPlays   ? "midi_to_sound"
                             : variant == Variant::StockSink ? "midi_to_sound_stock_sink"
                                                             : "midi_to_sound_hard_cut";
    const std::string log = namePrefix + name + ".log";
    Program app(program, folder, log);
    auto env = OffscreenEnv(run, "config-" + name, set, {.midi = true});
    if (!fades) env["TASTIVO_NO_FADES"] = "1";
    if (variant == Variant::StockSink) env["TASTIVO_STOCK_JACK_OUTPUT"] = "1";
    JackProbe ears("bench-ears-" + tag + "-" + name, 2, 180);
    std::string missing;
    if (!app.Start(env))
      missing = "the program did not start";
    else if (!WaitUntil([&] { return keyboard.MidiConnections() > 0; }, 20s))
      missing = "the program never connected to the MIDI source";
    if (!missing.empty()) {
      std::cerr << missing << "; the program's output:\n" << app.LogTail();
      folder.Keep();
      return Outcome::kAbort;
    }
    // The output may appear only with the first clip; the warm-up notes
    // give the probe time to connect to it.
    ears.Follow("Tastivo");
    const int xruns = keyboard.Xruns();
    const Latencies program =
        Measure(keyboard, ears, Alternating({36, 38}, kWarmUp + kNotes), true);
    Print(name + "_server_xruns", keyboard.Xruns() - xruns, "cycles");
    if (program.frames.empty()) {
      std::cerr << "no note sounded on the JACK client \"Tastivo\"; the JACK ports:\n"
                << RunCommand({"jack_lsp"}).out << "the program's output:\n"
                << app.LogTail();
      folder.Keep();
      outcome = Outcome::kFailed;
    } else {
      const double p50 = Percentile(program.frames, 50);
      PrintLatencies(run, name, program.frames);
      if (floorP50 > 0) Print(name + "_p50_vs_floor", p50 / floorP50, "x");
      if (floorP50 > 0)
        Print(name + "_p99_vs_floor", Percentile(program.frames, 99) / floorP50, "x");
      if (!fades) hardCutP50 = p50;
      if (variant == Variant::AsItPlays && hardCutP50 > 0) {
        Print("midi_to_sound_p50_vs_hard_cut", p50 / hardCutP50, "x");
        Print("midi_to_sound_p50_cost_of_ramps", (p50 - hardCutP50) / rate * 1000, "ms");
      }
    }
    Print(name + "_notes", static_cast<double>(program.frames.size()), "notes");
    Print(name + "_missed", program.missed, "notes");
    Print(name + "_stale_first_sound", program.stale, "notes");
    PrintKeyTrace(name, folder.File(log));
    if (variant != Variant::AsItPlays) continue;

    // One window holding a long clip.
    keyboard.SendMidi(0x90, 37, 100);
    if (Sounding(ears, 3, 0, 0))
      PrintCpu("cpu_one_window_playing", app.Pid(), ears);
    else
      std::cerr << "cpu_one_window_playing: not measured, the long clip did not sound\n";
    keyboard.SendMidi(0x80, 37, 0);
  }
  return outcome;
}

// Only the CPU figures ($TASTIVO_BENCH_CPU_ONLY): one window offscreen,
// idle and then playing the long clip; then eight windows.
int MeasureCpuOnly(const Run& run) {
  Program app(run.program, run.folder, "cpu.log");
  JackProbe ears("bench-ears-cpu-" + run.tag, 2, 30);
  if (!app.Start(OffscreenEnv(run, "config-cpu", run.set, {.midi = true})) ||
      !WaitUntil([&] { return run.keyboard.MidiConnections() > 0; }, 20s)) {
    std::cerr << "the program did not start; its output:\n" << app.LogTail();
    return 1;
  }
  ears.Follow("Tastivo");
  PrintCpu("cpu_one_window_idle", app.Pid(), ears);
  run.keyboard.SendMidi(0x90, 37, 100);
  int status = 0;
  if (Sounding(ears, 3, 0, 0)) {
    PrintCpu("cpu_one_window_playing", app.Pid(), ears);
  } else {
    std::cerr << "cpu_one_window_playing: not measured, the long clip did not sound\n";
    status = 1;
  }
  run.keyboard.SendMidi(0x80, 37, 0);
  app.Stop();
  return status;
}

// The first press of each key after a set was loaded, and then a press
// of each again, every key in a random order, with the keys cued ahead
// as the program plays and without ($TASTIVO_CUE_CLIPS=0). Key 0 is the
// warm-up that opens the output; keys 1 to 35 are measured.
int MeasureFirstPress(const Run& run) {
  RunFolder& folder = run.folder;
  JackProbe& keyboard = run.keyboard;
  int status = 0;
  const std::string set = folder.File("first-press.wql");
  std::vector<int> leads;
  // Every third key starts at a mark a quarter into its clip.
  if (const std::string why = MakeToneSet(folder, set, {"key", kFirstPressKeys}, kThreshold, leads);
      !why.empty()) {
    std::cerr << "first_press: not measured, " << why << "\n";
    status = 1;
  }
  std::vector<int> order;
  for (int key = 1; key < kFirstPressKeys; ++key) order.push_back(36 + key);
  std::mt19937 random(20261209);
  for (const bool cued : {false, true}) {
    if (run.sweep && !cued) continue;
    const std::string name = cued ? "first_press_cued" : "first_press_cold";
    Program app(run.program, folder, namePrefix + name + ".log");
    auto env = OffscreenEnv(run, cued ? "config-cued" : "config-cold", set, {.midi = true});
    if (!cued) env["TASTIVO_CUE_CLIPS"] = "0";
    JackProbe ears("bench-first-" + run.tag + (cued ? "-cued" : "-cold"), 2, 240);
    if (!app.Start(env) || !WaitUntil([&] { return keyboard.MidiConnections() > 0; }, 20s)) {
      std::cerr << name << ": the program did not start; its output:\n" << app.LogTail();
      status = 1;
      continue;
    }
    // The set's clips have a moment to be cued, as they would while the
    // performer gets ready.
    ears.WaitForFrame(ears.RecordedUntil() + static_cast<uint64_t>(3 * run.rate));
    PrintResident(name + "_rss_before_playing", app.Pid());
    ears.Follow("Tastivo");
    Measure(keyboard, ears, {36, 36, 36}, false, 0, 0, 3);
    std::vector<int> notes = order;
    std::shuffle(notes.begin(), notes.end(), random);
    // From the note to the clip's own first sound.
    const auto fromClipSound = [&](Latencies l) {
      for (std::size_t i = 0; i < l.frames.size() && l.missed == 0; ++i)
        l.frames[i] -= leads[notes[i] - 36];
      return l;
    };
    // Cycles the server missed meanwhile: JACK drops the MIDI of such a
    // cycle, and the sound of every client in it.
    const int xruns = keyboard.Xruns();
    const Latencies first = fromClipSound(Measure(keyboard, ears, notes, false, 0, 0, 0));
    Print(name + "_server_xruns", keyboard.Xruns() - xruns, "cycles");
    std::vector<double> marked, unmarked;
    for (std::size_t i = 0; i < first.frames.size() && first.missed == 0; ++i)
      ((notes[i] - 36) % 3 == 2 ? marked : unmarked).push_back(first.frames[i]);
    PrintLatencies(run, name, first.frames);
    PrintLatencies(run, name + "_at_a_start_mark", marked);
    PrintLatencies(run, name + "_from_the_clip_start", unmarked);
    Print(name + "_missed", first.missed, "notes");
    std::shuffle(notes.begin(), notes.end(), random);
    const Latencies again = fromClipSound(Measure(keyboard, ears, notes, false, 0, 0, 0));
    PrintLatencies(run, cued ? "repeat_press_cued" : "repeat_press_cold", again.frames);
    PrintResident(name + "_rss_after_playing", app.Pid());
    app.Stop();
    PrintKeyTrace(name, folder.File(namePrefix + name + ".log"));
  }
  return status;
}

// The memory 16 video keys take when all are cued (720p H.264 with AAC
// sound, the pool's video limit raised to 16), beside the same set
// without cueing.
int MeasureVideoKeys(const Run& run, int status) {
  RunFolder& folder = run.folder;
  const std::string& program = run.program;
  JackProbe& keyboard = run.keyboard;
  const double rate = run.rate;
  std::vector<SetRow> rows;
  for (int key = 0; key < 16 && status == 0; ++key) {
    const std::string file = folder.File("video" + std::to_string(key) + ".mp4");
    const CommandResult r = RunCommand({"gst-launch-1.0",
                                        "-q",
                                        "videotestsrc",
                                        "num-buffers=60",
                                        "pattern=" + std::to_string(key),
                                        "!",
                                        "video/x-raw,width=1280,height=720,framerate=30/1",
                                        "!",
                                        "x264enc",
                                        "speed-preset=ultrafast",
                                        "!",
                                        "mp4mux",
                                        "name=mux",
                                        "!",
                                        "filesink",
                                        "location=" + file,
                                        "audiotestsrc",
                                        "num-buffers=90",
                                        "!",
                                        "audioconvert",
                                        "!",
                                        "avenc_aac",
                                        "!",
                                        "mux."},
                                       {}, 60s);
    if (r.status != 0) {
      std::cerr << "video keys: not measured, could not make " << file << "\n";
      status = 1;
    }
    rows.push_back({"v" + std::to_string(key), file});
  }
  const std::string set = folder.File("video.wql");
  WriteSet(set, rows);
  for (const bool cued : {false, true}) {
    Program app(program, folder, cued ? "video-cued.log" : "video-cold.log");
    auto env = OffscreenEnv(run, cued ? "config-video-cued" : "config-video-cold", set, {});
    env["TASTIVO_CUE_CLIPS"] = cued ? "48" : "0";
    env["TASTIVO_CUE_VIDEO_CLIPS"] = "16";
    if (status != 0 || !app.Start(env)) continue;
    // Cueing 16 videos takes a few seconds on two cores.
    keyboard.WaitForFrame(keyboard.RecordedUntil() + static_cast<uint64_t>(15 * rate));
    PrintResident(cued ? "rss_16_video_keys_cued" : "rss_16_video_keys_cold", app.Pid());
  }
  return status;
}

// Eight windows in group 0: New needs a click, so a display of its own.
int MeasureEightWindows(const Run& run, int status) {
  RunFolder& folder = run.folder;
  const std::string& program = run.program;
  const std::string& tag = run.tag;
  JackProbe& keyboard = run.keyboard;
  const std::string& set = run.set;
  Desktop desktop(folder);
  if (const std::string why = desktop.Start(); !why.empty()) {
    std::cerr << "cpu_eight_windows_playing: not measured, " << why << "\n";
    return status;
  }
  StoredSettings settings(folder.File("config-x"));
  for (int n = 0; n < 8; ++n) {
    settings.PreloadSet(n, set);
    settings.SetWindow(n, {.midi = n == 0, .group = 0, .top = 10 + 110 * n, .left = 600});
  }
  // Window 0 stays clear of the others, so its New button takes the clicks.
  settings.SetWindow(0, {.midi = true, .group = 0, .top = 10, .left = 10});
  Program app(program, folder, "x.log");
  auto env = ProgramEnv(settings);
  env["QT_QPA_PLATFORM"] = "xcb";
  env["DISPLAY"] = desktop.Display();
  JackProbe ears("bench-ears8-" + tag, 8, 30);
  const auto first = app.Start(env) ? desktop.WaitForWindow("Tastivo") : std::nullopt;
  bool made = first.has_value() && WaitUntil([&] { return keyboard.MidiConnections() > 0; }, 20s);
  for (int n = 1; made && n < 8; ++n)
    made = desktop.ClickForNewWindow(*first, 517, 11, "^Tastivo").has_value();
  if (!made) {
    std::cerr << "cpu_eight_windows_playing: not measured, the eight windows did not appear; "
                 "the program's output:\n"
              << app.LogTail();
    folder.Keep();
    return 1;
  }
  for (int n = 0; n < 8; ++n)
    ears.Follow(n == 0 ? "Tastivo" : "Tastivo " + std::to_string(n), n, 1);
  // A first note makes the outputs that appear only with a clip.
  keyboard.SendMidi(0x90, 37, 100);
  Sounding(ears, 3, 0, 0);
  keyboard.SendMidi(0x80, 37, 0);
  WaitForSilence(ears, 0.1);
  keyboard.SendMidi(0x90, 37, 100);
  int heard = 0;
  for (int n = 0; n < 8; ++n) heard += Sounding(ears, 3, n, 1) ? 1 : 0;
  if (heard == 8) {
    PrintCpu("cpu_eight_windows_playing", app.Pid(), ears);
  } else {
    std::cerr << "cpu_eight_windows_playing: not measured, " << heard
              << " of 8 windows sounded on JACK clients \"Tastivo\" to \"Tastivo 7\"; the "
                 "JACK ports:\n"
              << RunCommand({"jack_lsp"}).out;
    status = 1;
  }
  keyboard.SendMidi(0x80, 37, 0);
  return status;
}

// Everything measured on the server JACK_DEFAULT_SERVER names (or the
// default one).
int MeasureOnServer(RunFolder& folder, const std::string& program, const std::string& tag,
                    bool sweep) {
  // The program opens the first MIDI source the server lists: this one.
  JackProbe keyboard("bench-keyboard-" + tag, 1, 5);
  if (!keyboard.Ok()) {
    std::cerr << keyboard.Error() << "\n";
    return 1;
  }
  const std::vector<std::string> sources = keyboard.MidiSources();
  if (sources.empty() || sources.front() != keyboard.MidiPortName()) {
    std::cerr << "another MIDI source is listed before the bench's own: "
              << (sources.empty() ? "(none listed)" : sources.front()) << "\n";
    return 1;
  }
  const double period = keyboard.Period();
  const double rate = keyboard.SampleRate();

  const std::string shortClip = folder.File("short.wav");
  const std::string longClip = folder.File("long.wav");
  const std::string highClip = folder.File("high.wav");
  if (!MakeTone(shortClip, 1.0, kLowHertz).empty() ||
      !MakeTone(highClip, 1.0, kHighHertz).empty() || !MakeTone(longClip, 40.0, 440).empty()) {
    std::cerr << "sox could not make the clips\n";
    return 1;
  }
  const std::string set = folder.File("bench.wql");
  WriteSet(set, {{"low", shortClip}, {"long", longClip}, {"high", highClip}});

  const Run run{folder, sweep, program, tag, keyboard, period, rate, set};
  if (const char* only = std::getenv("TASTIVO_BENCH_CPU_ONLY"); only != nullptr && *only != 0)
    return MeasureEightWindows(run, MeasureCpuOnly(run));
  double floorP50 = 0;
  int status = MeasureFloor(run, floorP50);
  const Outcome outcome = MeasureProgram(run, floorP50);
  if (outcome == Outcome::kAbort) return 1;
  if (outcome == Outcome::kFailed) status = 1;
  if (MeasureFirstPress(run) != 0) status = 1;
  if (sweep) return status;
  status = MeasureVideoKeys(run, status);
  return MeasureEightWindows(run, status);
}

// A JACK dummy server of the bench's own at `frames` a period, named
// `name`, as the test services start theirs; false when it did not come up.
bool StartServer(ChildProcess& server, const std::string& name, int frames,
                 const RunFolder& folder) {
  const bool realtime = RunCommand({"chrt", "-f", "1", "true"}).status == 0;
  if (!server.Start({"jackd", "-n", name, realtime ? "-R" : "-r", "-d", "dummy", "-r", "48000",
                     "-p", std::to_string(frames)},
                    {}, folder.File("jackd-" + std::to_string(frames) + ".log")))
    return false;
  return WaitUntil(
      [&] {
        return server.Running() && RunCommand({"jack_lsp", "-s", name}, {}, 2s).status == 0;
      },
      10s);
}

}  // namespace

// With TASTIVO_BENCH_CPU_ONLY=1, only the CPU figures are measured.
// With TASTIVO_BENCH_PERIODS (e.g. "64,128,256"), the latency parts run
// once on a dummy server of each period size, started here, and each
// figure's name begins with its size ("p64_").
int main() {
  RunsBesideTheProgram();
  RunFolder folder("bench-midi");
  const std::string program = ProgramPath();
  const std::string tag = std::to_string(getpid());
  const char* periods = std::getenv("TASTIVO_BENCH_PERIODS");
  if (periods == nullptr || *periods == 0) return MeasureOnServer(folder, program, tag, false);
  int status = 0;
  std::stringstream list(periods);
  for (std::string item; std::getline(list, item, ',');) {
    const int frames = std::atoi(item.c_str());
    if (frames <= 0) continue;
    const std::string name = "bench-period-" + std::to_string(frames) + "-" + tag;
    ChildProcess server;
    if (!StartServer(server, name, frames, folder)) {
      std::cerr << "no JACK dummy server came up at " << frames << " frames\n";
      folder.Keep();
      status = 1;
      continue;
    }
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    namePrefix = "p" + std::to_string(frames) + "_";
    if (MeasureOnServer(folder, program, tag + "-" + std::to_string(frames), true) != 0) status = 1;
  }
  return status;
}
