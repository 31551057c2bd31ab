#include "engine/cue/ArmedStart.h"

#include "engine/stages/GainRamp.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>
#include <utility>

namespace engine {

namespace {

constexpr std::uint64_t kNever = ~std::uint64_t(0);

// The frames of a head the output plays: whole milliseconds, so that the
// clip's position where the graph takes over is exact in nanoseconds.
int Playable(const ClipHead& head) {
  const int step = head.rate / std::gcd(head.rate, 1000);
  const int frames = head.Frames();
  return frames - frames % std::max(1, step);
}

}  // namespace

struct ArmedStart::Impl {
  // Published by the window. A key's generation is odd while the window
  // changes it, and an arm carries the one it was made under: the output
  // starts nothing armed under a generation that is not the key's latest.
  std::atomic<std::uint8_t> verdicts[kKeys] = {};
  std::atomic<const ClipHead*> heads[kKeys] = {};
  std::atomic<std::uint32_t> generations[kKeys] = {};
  std::atomic<float> gain{1.0f};
  // Window thread only: what the published pointers point at, and heads
  // replaced while another thread may still hold them, with the output's
  // cycle count when they were.
  std::shared_ptr<const ClipHead> owned[kKeys];
  std::vector<std::pair<std::shared_ptr<const ClipHead>, std::uint64_t>> retired;

  // The arm: set by an arming thread while no arm is pending, taken by the
  // output.
  std::atomic<bool> pending{false};
  std::atomic<int> armedKey{-1};
  std::atomic<std::uint64_t> armedSeq{0};
  std::atomic<const ClipHead*> armed{nullptr};
  std::atomic<std::uint32_t> armedGeneration{0};
  std::atomic<std::uint64_t> lastSeq{0};
  std::atomic<int> arming{0};

  // Told by the window to the output.
  // The ring's sample the graph's sound was given (kNever until then).
  std::atomic<std::uint64_t> pinGiven{kNever};
  std::atomic<std::uint64_t> handoverSeq{0};
  std::atomic<std::uint64_t> silenced{0};
  // The pin came after the head could reach its handover: the graph's
  // sound goes where it can and is ramped in there.
  std::atomic<bool> pinLate{false};

  // Published by the output.
  std::atomic<const ClipHead*> sounding{nullptr};
  std::atomic<std::uint64_t> soundingSeq{0};
  std::atomic<std::uint64_t> decidedSeq{0};  // the last arm the output took, started or not
  std::atomic<std::uint64_t> startedAt{0};
  std::atomic<std::uint64_t> startedNs{0};  // the monotonic clock at startedAt
  std::atomic<int> rate{0};
  std::atomic<int> outputChannels{0};
  std::atomic<const ClipHead*> fadingPublished{nullptr};
  std::atomic<std::uint64_t> cycles{0};
  // The start whose graph sound the output waits for (0: none), and the
  // frames its head has left before its handover after the last cycle
  // mixed (0 once it has ended); the output cycles under way or done
  // (CycleBegins, CycleEnds).
  std::atomic<std::uint64_t> awaitingSeq{0};
  std::atomic<std::uint64_t> headLeft{0};
  std::atomic<int> inCycle{0};
  std::atomic<std::uint64_t> deviceCycles{0};
  std::atomic<const void*> owner{nullptr};
  std::atomic<bool> mixing{false};
  std::atomic<std::uint32_t> cycleFrame{0};
  std::atomic<int> period{0};
  std::atomic<int> rampShown{1};                   // `ramp`, for the streaming thread
  std::atomic<std::uint64_t> armedTarget{kNever};  // kNever: any cycle
  const void* prepared = nullptr;                  // the owner Prepare was last called for

  // The output's thread only.
  int ramp = 1;
  int channels = 0;
  const ClipHead* playing = nullptr;
  std::uint64_t playingSeq = 0;
  int pos = 0;
  int end = 0;    // the frames of the playing head the output plays
  int muted = 0;  // frames of the ring's fade under a new head, up to ramp
  bool ringMuted = false;
  // The ring's sound is held back from a head's start until the graph's
  // takes over (awaiting), then ramped in over `ramp` frames when it came
  // late (rampedIn counts them).
  bool awaiting = false;
  std::uint64_t awaitSeq = 0;
  int rampedIn = 1 << 30;
  // Frames the output still waits for a late graph once the head ended and
  // the window confirmed it; until the window does, however late.
  int awaitLeft = 0;
  int sinceEnd = 1 << 30;            // frames since the head played to its end
  const ClipHead* fading = nullptr;  // a head cut, played on ramped down
  int fadePos = 0, fadeLeft = 0;

  void Retire(std::shared_ptr<const ClipHead> head) {
    if (head) retired.emplace_back(std::move(head), cycles.load());
  }
  // Frees the heads no other thread can hold any more.
  void Collect() {
    if (arming.load() != 0) return;
    const std::uint64_t now = cycles.load();
    std::erase_if(retired, [&](const auto& r) {
      const ClipHead* h = r.first.get();
      return now >= r.second + 2 && h != armed.load() && h != sounding.load() &&
             h != fadingPublished.load();
    });
  }
  float HeadSample(const ClipHead* h, int frame, int c) const {
    return h->samples[std::size_t(frame) * std::size_t(h->channels) +
                      std::size_t(std::min(c, h->channels - 1))];
  }
  void EndAwaiting() {
    awaiting = false;
    awaitingSeq.store(0);
    ringMuted = false;
  }
  void CutPlaying() {
    if (awaiting) EndAwaiting();
    if (playing == nullptr) return;
    fading = playing;
    fadePos = pos;
    fadeLeft = std::min(ramp, playing->Frames() - pos);
    fadingPublished.store(fading);
    playing = nullptr;
    sounding.store(nullptr);
    ringMuted = false;
  }
};

ArmedStart::ArmedStart() : d_(std::make_unique<Impl>()) {}
ArmedStart::~ArmedStart() = default;

void ArmedStart::Publish(int key, Verdict verdict, std::shared_ptr<const ClipHead> head) {
  if (key < 0 || key >= kKeys) return;
  if (verdict != Verdict::Plays) head = nullptr;
  d_->Collect();
  if (Verdict(d_->verdicts[key].load()) == verdict && head == d_->owned[key]) return;
  d_->generations[key].fetch_add(1);
  d_->verdicts[key].store(std::uint8_t(verdict));
  d_->heads[key].store(head.get());
  d_->generations[key].fetch_add(1);
  if (head != d_->owned[key]) d_->Retire(std::exchange(d_->owned[key], std::move(head)));
}

void ArmedStart::Clear() {
  for (int key = 0; key < kKeys; ++key) Publish(key, Verdict::Silent);
}

ArmedStart::Verdict ArmedStart::VerdictOf(int key) const {
  if (key < 0 || key >= kKeys) return Verdict::EndsDispatch;
  return Verdict(d_->verdicts[key].load());
}

bool ArmedStart::Armable(int key) const {
  return key >= 0 && key < kKeys && Verdict(d_->verdicts[key].load()) == Verdict::Plays &&
         d_->heads[key].load() != nullptr && d_->rate.load() > 0;
}

std::optional<std::uint32_t> ArmedStart::NextCycle() const {
  const int period = d_->period.load();
  if (period <= 0) return std::nullopt;
  return d_->cycleFrame.load() + std::uint32_t(period);
}

bool ArmedStart::Arm(int key, std::optional<std::uint32_t> notBeforeCycle) {
  if (key < 0 || key >= kKeys) return false;
  ++d_->arming;
  bool armed = false;
  const std::uint32_t generation = d_->generations[key].load();
  const ClipHead* head = d_->heads[key].load();
  const bool plays = Verdict(d_->verdicts[key].load()) == Verdict::Plays;
  bool idle = false;
  // Only an output that mixes heads (one of ours on a JACK server) starts
  // them: with none, nothing is armed and the window has nothing to wait for.
  if (generation % 2 == 0 && plays && head != nullptr && d_->rate.load() > 0 &&
      d_->pending.compare_exchange_strong(idle, true)) {
    d_->armedKey.store(key);
    d_->armedSeq.store(d_->lastSeq.fetch_add(1) + 1);
    d_->armedTarget.store(notBeforeCycle ? *notBeforeCycle : kNever);
    d_->armedGeneration.store(generation);
    d_->armed.store(head);
    armed = true;
  } else {
    armed = d_->pending.load() && d_->armedKey.load() == key;
  }
  --d_->arming;
  return armed;
}

bool ArmedStart::Pending() const {
  return d_->pending.load();
}

std::optional<ArmedStart::Handover> ArmedStart::Confirm(int key, const std::string& path, int mark,
                                                        double speed, std::int64_t startNs,
                                                        std::chrono::nanoseconds wait) {
  if (!d_->pending.load()) return std::nullopt;
  const ClipHead* head = d_->heads[key >= 0 && key < kKeys ? key : 0].load();
  const std::uint64_t seq = d_->armedSeq.load();
  const bool same = d_->armedKey.load() == key && head != nullptr && head->path == path &&
                    head->mark == mark && head->speed == speed && d_->owned[key].get() == head;
  if (!same) {
    Withdraw();
    return std::nullopt;
  }
  // The output takes the arm in its next cycle; a window quicker than
  // that waits for it, at most `wait`.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  const auto decided = [&] { return d_->armed.load() == nullptr && d_->decidedSeq.load() >= seq; };
  while (!decided() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  const ClipHead* untaken = head;
  if (d_->armed.compare_exchange_strong(untaken, nullptr) || !decided() ||
      d_->awaitingSeq.load() != seq || d_->generations[key].load() != d_->armedGeneration.load()) {
    // Never started (the output is stalled, or the key changed since the
    // arm), or cut already: the graph starts the clip from its start as if
    // nothing was armed.
    d_->pending.store(false);
    Silence(seq);
    return std::nullopt;
  }
  // The head plays to its end unless the graph's sound takes over before;
  // one that has ended waits for the graph, silent, and never plays again.
  const int frames = Playable(*head);
  d_->pinGiven.store(kNever);
  d_->pinLate.store(false);
  d_->handoverSeq.store(seq);
  d_->pending.store(false);
  Handover handover;
  handover.clipNs = startNs + std::llround(double(frames) * 1e9 * head->speed / head->rate);
  handover.frames = frames;
  handover.seq = seq;
  handover.head = d_->owned[key];
  return handover;
}

void ArmedStart::Withdraw() {
  if (!d_->pending.load()) return;
  const std::uint64_t seq = d_->armedSeq.load();
  const ClipHead* head = d_->armed.exchange(nullptr);
  d_->pending.store(false);
  if (head == nullptr) Silence(seq);
}

void ArmedStart::Silence(std::uint64_t seq) {
  std::uint64_t was = d_->silenced.load();
  while (seq > was && !d_->silenced.compare_exchange_weak(was, seq)) {
  }
}

void ArmedStart::SetGain(float gain) {
  d_->gain.store(gain);
}

void ArmedStart::Prepare(int rampFrames, int rate, int channels) {
  d_->outputChannels.store(channels);
  d_->rate.store(rate);
  d_->ramp = std::max(1, rampFrames);
  d_->rampShown.store(d_->ramp);
  d_->channels = std::max(1, channels);
}

int ArmedStart::OutputRate() const {
  return d_->rate.load();
}

int ArmedStart::OutputChannels() const {
  return d_->outputChannels.load();
}

std::uint64_t ArmedStart::PinnedStart(const std::function<std::uint64_t()>& nextRead) const {
  const std::uint64_t seq = d_->handoverSeq.load();
  if (seq == 0 || d_->awaitingSeq.load() != seq || seq <= d_->silenced.load()) return kNever;
  // The ring's next read and what is left of the head after the last cycle
  // must belong to the same cycle: read between cycles (microseconds apart).
  std::uint64_t next = 0, left = 0;
  for (;;) {
    while (d_->inCycle.load() != 0) std::this_thread::yield();
    const std::uint64_t before = d_->deviceCycles.load();
    next = nextRead();
    left = d_->headLeft.load();
    if (d_->inCycle.load() == 0 && d_->deviceCycles.load() == before) break;
  }
  // A cycle may still begin before the output sees the pin: the head must
  // not have begun its ramp down by then.
  const std::uint64_t margin =
      std::uint64_t(d_->rampShown.load()) + std::uint64_t(d_->period.load());
  const bool late = left <= margin;
  d_->pinLate.store(late);
  const std::uint64_t pin = late ? next : next + left;
  d_->pinGiven.store(pin);
  return pin;
}

void ArmedStart::CycleBegins() {
  ++d_->inCycle;
}

void ArmedStart::CycleEnds() {
  ++d_->deviceCycles;
  --d_->inCycle;
}

std::uint64_t ArmedStart::HandoverClockNs(const Handover& handover) const {
  const int rate = std::max(1, d_->rate.load());
  return d_->startedNs.load() + std::uint64_t(handover.frames) * 1000000000u / std::uint64_t(rate);
}

namespace {
std::mutex outputsMutex;
std::map<std::string, std::weak_ptr<ArmedStart>>& Outputs() {
  static std::map<std::string, std::weak_ptr<ArmedStart>> outputs;
  return outputs;
}
}  // namespace

void ArmedStart::ForOutput(const std::string& name, std::shared_ptr<ArmedStart> start) {
  std::lock_guard lock(outputsMutex);
  for (auto it = Outputs().begin(); it != Outputs().end();)
    it = it->second.lock() == start || it->second.expired() ? Outputs().erase(it) : std::next(it);
  if (start) Outputs()[name] = start;
}

std::shared_ptr<ArmedStart> ArmedStart::OfOutput(const std::string& name) {
  std::lock_guard lock(outputsMutex);
  const auto it = Outputs().find(name);
  return it == Outputs().end() ? nullptr : it->second.lock();
}

bool ArmedStart::Sounding() const {
  return d_->sounding.load() != nullptr;
}

// Runs on the output's thread; must not block.
void ArmedStart::Mix(const float* ring, float* out, int frames, std::uint64_t ringAt,
                     bool ringPlays, std::uint32_t cycleFrame) {
  Impl& d = *d_;
  const int channels = d.channels;
  d.cycleFrame.store(cycleFrame);
  d.period.store(frames);
  const std::uint64_t silenced = d.silenced.load();
  if (d.playing != nullptr && d.playingSeq <= silenced) d.CutPlaying();
  if (d.awaiting && d.awaitSeq <= silenced) d.EndAwaiting();
  const ClipHead* taken = nullptr;
  if (d.armed.load() != nullptr) {
    const std::uint64_t target = d.armedTarget.load();
    if (target == kNever || std::int32_t(cycleFrame - std::uint32_t(target)) >= 0)
      taken = d.armed.exchange(nullptr);
  }
  if (taken != nullptr) {
    const std::uint64_t seq = d.armedSeq.load();
    const int key = d.armedKey.load();
    // Only what the window's latest word on the key plays starts.
    if (key >= 0 && key < kKeys && d.generations[key].load() == d.armedGeneration.load() &&
        taken->rate == d.rate.load() && seq > silenced) {
      d.CutPlaying();
      d.playing = taken;
      d.playingSeq = seq;
      d.pos = 0;
      d.end = Playable(*taken);
      d.muted = 0;
      d.ringMuted = true;
      d.rampedIn = d.ramp;
      d.awaiting = true;
      d.awaitSeq = seq;
      d.awaitLeft = d.rate.load() / 2;
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      d.startedNs.store(std::uint64_t(now.tv_sec) * 1000000000u + std::uint64_t(now.tv_nsec));
      d.startedAt.store(ringAt);
      d.soundingSeq.store(seq);
      d.sounding.store(taken);
      d.awaitingSeq.store(seq);
    }
    d.decidedSeq.store(seq);
  }
  const float gain = d.gain.load();
  std::uint64_t handoverAt = kNever;
  bool late = false;
  const bool confirmed = d.awaiting && d.handoverSeq.load() == d.awaitSeq;
  if (confirmed) {
    handoverAt = d.pinGiven.load();
    late = d.pinLate.load();
  }
  // A head whose handover is pinned plays whole to it; any other ramps
  // down to its end, where the graph's sound, when it comes, goes on.
  const bool pinned = handoverAt != kNever && !late;
  for (int f = 0; f < frames; ++f) {
    if (d.awaiting && ringAt + std::uint64_t(f) >= handoverAt && ringPlays) {
      if (pinned && (d.playing != nullptr || d.sinceEnd == 0)) {
        // The graph's sound goes on from here, where the head is.
        d.playing = nullptr;
        d.sounding.store(nullptr);
      } else {
        // Late: it goes on from the head's end, ramped in.
        d.CutPlaying();
        d.rampedIn = 0;
      }
      d.EndAwaiting();
    }
    float ringGain = 1.0f;
    if (d.ringMuted) {
      ringGain = float(1.0 - RampGain(std::min(1.0, double(d.muted) / d.ramp)));
      d.muted = std::min(d.muted + 1, d.ramp);
    } else if (d.rampedIn < d.ramp) {
      ringGain = float(RampGain(double(d.rampedIn) / d.ramp));
      if (ringPlays) ++d.rampedIn;
    }
    float headGain = 0.0f;
    const ClipHead* head = d.playing;
    if (head != nullptr) {
      const int left = d.end - d.pos;
      headGain = pinned || left >= d.ramp ? gain : gain * float(RampGain(double(left) / d.ramp));
    }
    float fadeGain = 0.0f;
    if (d.fading != nullptr) fadeGain = gain * float(RampGain(double(d.fadeLeft) / d.ramp));
    for (int c = 0; c < channels; ++c) {
      float v = ring[std::size_t(f) * channels + c] * ringGain;
      if (head != nullptr) v += headGain * d.HeadSample(head, d.pos, c);
      if (d.fading != nullptr) v += fadeGain * d.HeadSample(d.fading, d.fadePos, c);
      out[std::size_t(f) * channels + c] = v;
    }
    if (head != nullptr && ++d.pos >= d.end) {
      // Played to its end before the graph took over: silent until it does.
      d.playing = nullptr;
      d.sounding.store(nullptr);
      d.sinceEnd = 0;
    } else if (head == nullptr && d.sinceEnd < (1 << 30)) {
      ++d.sinceEnd;
    }
    if (confirmed && d.awaiting && d.playing == nullptr && --d.awaitLeft <= 0) {
      // No graph's sound came to take over: the ring is heard again.
      d.EndAwaiting();
      d.rampedIn = 0;
    }
    if (d.fading != nullptr) {
      ++d.fadePos;
      if (--d.fadeLeft <= 0 || d.fadePos >= d.fading->Frames()) {
        d.fading = nullptr;
        d.fadingPublished.store(nullptr);
      }
    }
  }
  d.headLeft.store(d.playing != nullptr ? std::uint64_t(d.end - d.pos) : 0);
  ++d.cycles;
}

// Runs on an output's thread; must not block.
void ArmedStart::MixFor(const Output& output, const float* ring, float* out, int frames,
                        std::uint64_t ringAt, bool ringPlays) {
  Impl& d = *d_;
  const void* none = nullptr;
  if (ringPlays)
    d.owner.store(output.id);
  else
    d.owner.compare_exchange_strong(none, output.id);
  bool idle = false;
  if (d.owner.load() != output.id || !d.mixing.compare_exchange_strong(idle, true)) {
    std::copy_n(ring, std::size_t(frames) * std::size_t(std::max(1, output.channels)), out);
    return;
  }
  if (d.prepared != output.id) {
    d.CutPlaying();
    d.fading = nullptr;
    d.fadingPublished.store(nullptr);
    Prepare(output.rampFrames, output.rate, output.channels);
    d.prepared = output.id;
  }
  Mix(ring, out, frames, ringAt, ringPlays, output.cycleFrame);
  d.mixing.store(false);
}

void ArmedStart::Release(const void* outputId) {
  const void* was = outputId;
  d_->owner.compare_exchange_strong(was, nullptr);
  while (d_->mixing.load()) std::this_thread::yield();
  if (d_->prepared == outputId) {
    d_->prepared = nullptr;
    d_->rate.store(0);
  }
}

ArmingOrder& ArmingOrder::Instance() {
  static ArmingOrder order;
  return order;
}

void ArmingOrder::Publish(const std::vector<Member>& members) {
  // An arming thread may read the list while it changes: it sees each
  // window as it was or as it is, never one freed (see below).
  const int n = std::min<int>(int(members.size()), kWindows);
  for (int i = 0; i < n; ++i) {
    starts_[i].store(members[std::size_t(i)].start);
    groups_[i].store(members[std::size_t(i)].group);
  }
  for (int i = n; i < kWindows; ++i) starts_[i].store(nullptr);
  count_.store(n);
  // An arming thread walks the list for microseconds and never waits for
  // this one: a window leaving waits until it can't be reached any more.
  while (arming_.load() != 0) std::this_thread::yield();
}

int ArmingOrder::Arm(int group, int key) {
  ++arming_;
  const int n = count_.load();
  // The windows the dispatch reaches, each ready, and the first cycle none
  // of their outputs has begun.
  std::optional<std::uint32_t> cycle;
  bool ready = true;
  for (int i = 0; i < n && ready; ++i) {
    ArmedStart* start = starts_[i].load();
    if (start == nullptr || groups_[i].load() != group) continue;
    const ArmedStart::Verdict verdict = start->VerdictOf(key);
    if (verdict == ArmedStart::Verdict::EndsDispatch) break;
    if (verdict != ArmedStart::Verdict::Plays) continue;
    ready = start->Armable(key);
    if (const auto next = start->NextCycle(); next && (!cycle || std::int32_t(*next - *cycle) > 0))
      cycle = next;
  }
  int armed = 0;
  for (int i = 0; i < n && ready; ++i) {
    ArmedStart* start = starts_[i].load();
    if (start == nullptr || groups_[i].load() != group) continue;
    const ArmedStart::Verdict verdict = start->VerdictOf(key);
    if (verdict == ArmedStart::Verdict::EndsDispatch) break;
    if (verdict == ArmedStart::Verdict::Plays && start->Arm(key, cycle)) ++armed;
  }
  --arming_;
  return armed;
}

int ArmingOrder::ArmFrom(const ArmedStart* sender, int key) {
  ++arming_;
  std::optional<int> group;
  const int n = count_.load();
  for (int i = 0; i < n && !group; ++i)
    if (starts_[i].load() == sender) group = groups_[i].load();
  const int armed = group ? Arm(*group, key) : 0;
  --arming_;
  return armed;
}

void ArmingOrder::WithdrawFrom(const ArmedStart* sender) {
  ++arming_;
  std::optional<int> group;
  const int n = count_.load();
  for (int i = 0; i < n && !group; ++i)
    if (starts_[i].load() == sender) group = groups_[i].load();
  for (int i = 0; i < n && group; ++i)
    if (ArmedStart* start = starts_[i].load(); start != nullptr && groups_[i].load() == *group)
      start->Withdraw();
  --arming_;
}

}  // namespace engine
