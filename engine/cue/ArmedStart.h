#pragma once
// A key's start armed on its window's output: the note's own thread arms
// it, the output's thread starts it in its next cycle, and the window
// thread, when its logic has played the key, hands the sound over to the
// graph. The player hears the note one cycle after it arrived instead of
// after the window thread, the graph and its preroll.
//
// What sounds first is the clip's head: its first moments from the key's
// start mark, decoded ahead at the output's format (ClipHead). The graph
// then starts the clip where the head ends, pinned to the sample of the
// output where the head will end (RingReader::PinStartsTo), and the output
// passes from the head to the graph's sound on that sample. A graph too
// late for that (a clip not cued yet, a busy machine) finds the head ended,
// ramped down, and its sound goes on from there as soon as it comes,
// ramped in: a gap, but the clip never goes back to a place already heard.
//
// The window decides; the arming thread only follows what it decided. The
// window publishes, for every key, what its rules do with a press of it
// now (Verdict, read from the key's row by the rules the window plays it
// by) and republishes it, on its own thread, as the row or its clip
// changes. Each key's word has a generation, odd while it changes. A key
// arms only when its verdict says it plays, from a head that is ready,
// under an even generation, which the arm carries. The output starts an
// armed head only while that generation is still the key's: a row changed
// after the arm was made and before the output's cycle never sounds. The
// window then confirms the arm (it played that clip from that start) or
// withdraws it (anything else): a withdrawn head that has not sounded yet
// never will, and one that has is faded out within the output's next
// cycle.
//
// Threads: Publish, Confirm and Withdraw on the window thread; Arm on any
// thread (the MIDI system's as a note arrives, the window's for a typed
// key, a click or a remote press); Mix on the output's thread, and only
// atomics there: no lock, no allocation, no call that can block.

#include "engine/graph/ClipCache.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// The first moments of a clip from a start, decoded at an output's format.
struct ClipHead {
  std::string path;
  int mark = 0;              // the key's start mark it was read from
  std::int64_t startNs = 0;  // where in the clip the head begins, as it was read
  double speed = 1.0;        // the key's rate: clip time per time heard
  int rate = 0;
  int channels = 0;
  std::int64_t clipNs = 0;               // the clip's length; 0 when it could not be told
  std::optional<FileIdentity> identity;  // the file's, as it was when read
  std::vector<float> samples;            // interleaved
  int Frames() const { return channels > 0 ? int(samples.size() / std::size_t(channels)) : 0; }
};

class ArmedStart {
 public:
  // The keys a window may have: the computer keys reach 65, notes 35.
  static constexpr int kKeys = 128;

  // What the window's rules do with a press of a key now.
  enum class Verdict : std::uint8_t {
    Silent,        // plays nothing (no clip, a clip that can't be played)
    Plays,         // plays its clip
    EndsDispatch,  // a key beyond the rows: this window, and those after it, do nothing
  };

  ArmedStart();
  ~ArmedStart();
  ArmedStart(const ArmedStart&) = delete;
  ArmedStart& operator=(const ArmedStart&) = delete;

  // ---- Window thread.
  // What a press of `key` does now; `head` when it plays and its head is
  // ready (only then can it be armed). Keys out of range end a dispatch.
  void Publish(int key, Verdict verdict, std::shared_ptr<const ClipHead> head = nullptr);
  // Every key plays nothing until published again.
  void Clear();
  Verdict VerdictOf(int key) const;

  // Where the graph takes over from the head: at its end.
  struct Handover {
    std::int64_t clipNs = 0;  // the clip's position at the first sample the graph plays
    int frames = 0;           // of the head, before the graph takes over
    std::uint64_t seq = 0;    // this start's number, for Silence
    std::shared_ptr<const ClipHead> head;
  };
  // The window played `key`'s clip `path` from start mark `mark`, at
  // `startNs` in the clip, at rate `speed`: the armed head of that clip
  // read at that rate is handed over to
  // the graph, also one that has already played to its end. Nothing when
  // no such head was started: the graph starts the clip itself, as it
  // would have unarmed (and any other head armed is withdrawn). When the
  // output has not taken the arm yet, waits at most `wait` for it, else
  // withdraws it.
  std::optional<Handover> Confirm(int key, const std::string& path, int mark, double speed,
                                  std::int64_t startNs, std::chrono::nanoseconds wait);
  // What was armed, if anything, is not played: silent if it has not
  // sounded yet, faded out within a cycle if it has.
  void Withdraw();
  // True while a head was armed and neither confirmed nor withdrawn.
  bool Pending() const;
  // The clip of confirmed start `seq` is stopped: its head, if it still
  // sounds, fades out within a cycle.
  void Silence(std::uint64_t seq);
  // The level the heads sound at, as the window's volume sets its clips'.
  void SetGain(float gain);

  // ---- Any thread.
  // Arms `key` when its verdict says it plays from a ready head; a key
  // already armed and not yet confirmed stays as it is. True when `key` is
  // armed now.
  bool Arm(int key, std::optional<std::uint32_t> notBeforeCycle = std::nullopt);
  // Any thread: `key` would arm now (its verdict plays, its head is ready).
  bool Armable(int key) const;
  // Any thread: the server frame at which the output's next cycle begins,
  // once it has run one.
  std::optional<std::uint32_t> NextCycle() const;

  // ---- The output's side.
  // Before its thread runs: ramps of `rampFrames`, the output's rate and
  // channels. A head at another rate is never started.
  void Prepare(int rampFrames, int rate, int channels);
  // Any thread: the rate and channels of the output that mixes heads; 0
  // while none does (nothing is armed then).
  int OutputRate() const;
  int OutputChannels() const;
  // The output's streaming thread, as the graph's first sound after a
  // confirmed head is written: the ring's sample (counted as `nextRead`,
  // which gives the sample the output reads next, counts) where the head
  // ends, the graph's sound to start there; the sample read next when the
  // head has ended or is about to (the sound is ramped in there); ~0 when
  // no confirmed head waits for the graph.
  std::uint64_t PinnedStart(const std::function<std::uint64_t()>& nextRead) const;
  // The output's thread, around each cycle it reads and mixes.
  void CycleBegins();
  void CycleEnds();
  // The monotonic clock (ns) when the head reaches its handover: a base
  // time for the graph's start.
  std::uint64_t HandoverClockNs(const Handover& handover) const;
  // Mixes one cycle: `ring` is what the ring gave for it (`frames` frames
  // of the prepared channels, from the ring's absolute sample `ringAt`;
  // `ringPlays`: the ring's sound was read, not silence), the cycle that
  // begins at server frame `cycleFrame`. Writes `out`. An arm waits for
  // the cycle it was armed for (the group's windows start on one cycle).
  void Mix(const float* ring, float* out, int frames, std::uint64_t ringAt, bool ringPlays,
           std::uint32_t cycleFrame = 0);
  // The output's thread, for an output that may not be the window's only
  // one (an output parked between clips, another opened meanwhile): only
  // the output that played last mixes heads, one at a time; the others
  // pass their ring's sound on. `output` names it; Release when it closes.
  struct Output {
    const void* id = nullptr;
    int rampFrames = 0, rate = 0, channels = 0;
    std::uint32_t cycleFrame = 0;  // the server frame this cycle begins at
  };
  void MixFor(const Output& output, const float* ring, float* out, int frames, std::uint64_t ringAt,
              bool ringPlays);
  void Release(const void* outputId);
  // Any thread: a head is sounding.
  bool Sounding() const;

  // The window's start for an output named `name` (the name its sound
  // server shows), for the output's device to find when it opens; null
  // withdraws it.
  static void ForOutput(const std::string& name, std::shared_ptr<ArmedStart> start);
  static std::shared_ptr<ArmedStart> OfOutput(const std::string& name);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// The keyboard windows in the order their group dispatch walks them, for
// arming a note on every window of its group the way the dispatch plays
// it. Window thread publishes; any thread arms.
class ArmingOrder {
 public:
  static ArmingOrder& Instance();
  static constexpr int kWindows = 64;

  // Window thread: the windows in dispatch order with their groups.
  // Returns once no arming thread can still be looking at the list before.
  struct Member {
    ArmedStart* start = nullptr;
    int group = 0;
  };
  void Publish(const std::vector<Member>& members);

  // Any thread: arms `key` on every window of `group` whose rules play it,
  // walking them in dispatch order; a window whose rules end the dispatch
  // ends the walk. All of them start on one cycle of the server, the first
  // that none has begun yet; and should one of them play the key without
  // a head ready, none is armed, so that the group starts together the way
  // it always has. The number of windows armed.
  int Arm(int group, int key);
  // The same for the group of the window whose start is `sender`; nothing
  // when it is not in the list.
  int ArmFrom(const ArmedStart* sender, int key);
  // Withdraws what is armed on the windows of `sender`'s group: the note
  // armed will never reach them.
  void WithdrawFrom(const ArmedStart* sender);

 private:
  ArmingOrder() = default;
  std::atomic<ArmedStart*> starts_[kWindows] = {};
  std::atomic<int> groups_[kWindows] = {};
  std::atomic<int> count_{0};
  std::atomic<int> arming_{0};
};

}  // namespace engine
