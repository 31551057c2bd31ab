#pragma once
// Sets of distinct tone clips for the first-press benchmarks: one clip per
// key in four formats, some keys starting at a mark inside the clip, some
// at a rate; with each key's own leading silence, so that a delay is
// counted from the clip's first sound, not from the file's first frame.

#include "AppHarness.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// The frames of silence a clip's decoded sound starts with at 48 kHz (an
// MP3 made by the encoder here carries about 23 ms of it, which is the
// clip's own, not the program's delay); nothing when it can't be read.
inline std::optional<int> LeadingSilence(const std::string& clip, float threshold) {
  const std::string wav = clip + ".decoded.wav";
  const CommandResult r = RunCommand({"gst-launch-1.0", "-q", "filesrc", "location=" + clip, "!",
                                      "decodebin", "!", "audioconvert", "!", "audioresample", "!",
                                      "audio/x-raw,format=S16LE,channels=1,rate=48000", "!",
                                      "wavenc", "!", "filesink", "location=" + wav});
  std::ifstream file(wav, std::ios::binary);
  if (r.status != 0 || !file) return std::nullopt;
  file.seekg(44);  // past the header wavenc writes
  int16_t sample = 0;
  for (int frame = 0; file.read(reinterpret_cast<char*>(&sample), sizeof sample); ++frame)
    if (std::abs(sample) > threshold * 32768) return frame;
  return std::nullopt;
}

struct ToneSet {
  std::string prefix;  // of the clips' file names, distinct per set
  int keys = 0;
  double lowHertz = 200, stepHertz = 40;
  // Every `rateEvery`-th key (the last of each run) plays at rate 150; 0:
  // none.
  int rateEvery = 0;
};

// Writes `set`: `tones.keys` one-second tones, in WAV, FLAC, Ogg and MP3 by
// turns; every third key starts at a mark a quarter into its clip. `leads`
// gets each key's leading silence as heard, in frames at 48 kHz. Empty on
// success, else why not.
inline std::string MakeToneSet(const RunFolder& folder, const std::string& set,
                               const ToneSet& tones, float threshold, std::vector<int>& leads) {
  std::vector<SetRow> rows;
  const char* formats[] = {"wav", "flac", "ogg", "mp3"};
  for (int key = 0; key < tones.keys; ++key) {
    const std::string format = formats[key % 4];
    const std::string name = tones.prefix + std::to_string(key);
    const std::string wav = folder.File(name + ".wav");
    if (std::string why = MakeTone(wav, 1.0, tones.lowHertz + tones.stepHertz * key); !why.empty())
      return why;
    std::string file = wav;
    if (format != "wav") {
      file = folder.File(name + "." + format);
      const CommandResult r =
          format == "mp3" ? RunCommand({"gst-launch-1.0", "-q", "filesrc", "location=" + wav, "!",
                                        "wavparse", "!", "audioconvert", "!", "lamemp3enc", "!",
                                        "xingmux", "!", "filesink", "location=" + file})
                          : RunCommand({"sox", wav, file});
      if (r.status != 0) return "could not make " + file;
    }
    const bool marked = key % 3 == 2;
    const bool fast = tones.rateEvery > 0 && key % tones.rateEvery == tones.rateEvery - 1;
    rows.push_back(
        {"k" + std::to_string(key), file, marked ? "2500" : "0", "10000", fast ? "150" : "100"});
    const std::optional<int> lead = marked ? 0 : LeadingSilence(file, threshold);
    if (!lead) return "could not decode " + file;
    leads.push_back(fast ? int(std::lround(*lead / 1.5)) : *lead);
  }
  return WriteSet(set, rows) ? std::string() : "could not write " + set;
}

}  // namespace e2e
