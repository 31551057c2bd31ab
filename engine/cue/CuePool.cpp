#include "engine/cue/CuePool.h"

#include "engine/GstInternal.h"
#include "engine/graph/ClipCache.h"
#include "engine/graph/ClipLength.h"
#include "engine/graph/ProgramStreamStop.h"
#include "engine/stages/Varispeed.h"

#include <gst/pbutils/missing-plugins.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

namespace engine {

namespace {

using Clock = std::chrono::steady_clock;

// A clip that shows no first buffer within this is not held (a damaged
// file, a hung mount); its key opens it cold and says what is wrong.
constexpr auto kCueTimeout = std::chrono::seconds(5);
// A clip that failed to cue is tried again after this.
constexpr auto kCueAgainAfter = std::chrono::milliseconds(1500);
// A decoder can fail once for no fault of its file (an AIFF parser has been
// seen to push before its stream was shown); a clip is tried this many times
// before it is left cold until its file changes.
constexpr int kCueTries = 3;
// What a clip not yet cued is taken to hold, until measured.
constexpr std::int64_t kAudioGuess = std::int64_t{1} << 20;
constexpr std::int64_t kVideoGuess = std::int64_t{24} << 20;

std::int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long long size = 0, resident = 0;
  statm >> size >> resident;
  return static_cast<std::int64_t>(resident) * sysconf(_SC_PAGESIZE);
}

bool HasMediaType(GstPad* pad, const char* prefix) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (caps == nullptr) caps = gst_pad_query_caps(pad, nullptr);
  bool has = false;
  if (caps != nullptr && gst_caps_get_size(caps) > 0)
    has = g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), prefix);
  if (caps != nullptr) gst_caps_unref(caps);
  return has;
}

CueLimits LimitsFromEnvironment() {
  CueLimits limits;
  const auto read = [](const char* name, int& limit) {
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0')
      limit = std::clamp(static_cast<int>(std::strtol(value, nullptr, 10)), 0, 256);
  };
  read("TASTIVO_CUE_CLIPS", limits.Clips);
  read("TASTIVO_CUE_VIDEO_CLIPS", limits.VideoClips);
  return limits;
}

}  // namespace

struct CuePool::Impl {
  struct PadState {
    GstPad* Pad = nullptr;
    gulong Probe = 0;
    bool Media = false;
    bool Blocked = false;
  };
  struct Entry {
    std::string Path;
    std::optional<FileIdentity> Identity;
    // Its key's marks, and the segment they make of the clip.
    int StartMark = 0, StopMark = 10000;
    gint64 StartNs = 0, StopNs = -1;
    GstElement* Decoder = nullptr;
    std::vector<PadState> Pads;
    bool NoMorePads = false;
    // Sent back to its start with a segment seek, as every seek of the
    // graphs is made, so its end is a segment's and a loop follows it
    // without a flush from the first pass on.
    bool Segmented = false;
    Status State = Status::Cueing;
    // Changed on disk since it was cued: released, not remembered as failed.
    bool Stale = false;
    bool Video = false;
    std::int64_t Bytes = 0;
    std::int64_t ResidentBefore = 0;
    Clock::time_point Started;
  };

  Impl() {
    EnsureGstInitialized();
    limits = LimitsFromEnvironment();
    pipeline = gst_pipeline_new("tastivo-cues");
    gst_object_ref_sink(pipeline);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, &Impl::OnBusMessage, this, nullptr);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    worker = std::thread([this] { Work(); });
  }

  // Streaming threads: a decoder shows a stream. It is blocked on its first
  // buffer, which is what cued means.
  static void OnPadAdded(GstElement* element, GstPad* pad, gpointer data) {
    auto* d = static_cast<Impl*>(data);
    std::lock_guard lock(d->mutex);
    Entry* e = d->Find(element);
    if (e == nullptr) return;
    PadState state;
    state.Pad = GST_PAD(gst_object_ref(pad));
    state.Media = HasMediaType(pad, "audio/") || HasMediaType(pad, "video/");
    e->Video = e->Video || HasMediaType(pad, "video/");
    state.Probe = gst_pad_add_probe(
        pad,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER |
                                     GST_PAD_PROBE_TYPE_BUFFER_LIST),
        &Impl::OnFirstBuffer, d, nullptr);
    e->Pads.push_back(state);
  }

  static void OnNoMorePads(GstElement* element, gpointer data) {
    auto* d = static_cast<Impl*>(data);
    std::lock_guard lock(d->mutex);
    if (Entry* e = d->Find(element)) e->NoMorePads = true;
    d->wake.notify_all();
  }

  static GstPadProbeReturn OnFirstBuffer(GstPad* pad, GstPadProbeInfo*, gpointer data) {
    auto* d = static_cast<Impl*>(data);
    std::lock_guard lock(d->mutex);
    for (auto& e : d->entries)
      for (auto& p : e->Pads)
        if (p.Pad == pad && !p.Blocked) {
          p.Blocked = true;
          d->wake.notify_all();
        }
    return GST_PAD_PROBE_OK;  // stays blocked until taken
  }

  static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* d = static_cast<Impl*>(data);
    const bool failed = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR ||
                        (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ELEMENT &&
                         gst_is_missing_plugin_message(message));
    if (failed && GST_MESSAGE_SRC(message) != nullptr) {
      std::lock_guard lock(d->mutex);
      for (auto& e : d->entries)
        if (GST_MESSAGE_SRC(message) == GST_OBJECT(e->Decoder) ||
            gst_object_has_as_ancestor(GST_MESSAGE_SRC(message), GST_OBJECT(e->Decoder))) {
          e->State = Status::Failed;
          d->wake.notify_all();
        }
    }
    gst_message_unref(message);
    return GST_BUS_DROP;
  }

  Entry* Find(GstElement* decoder) {
    for (auto& e : entries)
      if (e->Decoder == decoder) return e.get();
    return nullptr;
  }
  Entry* Find(const std::string& path) {
    for (auto& e : entries)
      if (e->Path == path) return e.get();
    return nullptr;
  }

  static bool IsCued(const Entry& e) {
    if (!e.NoMorePads) return false;
    bool media = false;
    for (const PadState& p : e.Pads) {
      if (!p.Media) continue;
      media = true;
      if (!p.Blocked) return false;
    }
    return media;
  }

  // Under the lock: the first key's clip of that file.
  const ClipToCue* Wanted(const std::string& path) const {
    for (auto& [owner, clips] : wanted)
      for (const ClipToCue& clip : clips)
        if (clip.FileName == path) return &clip;
    return nullptr;
  }

  // The segment between the marks of a clip of this length (in ns), as the
  // player and the graph turn a key's marks into a seek: the length in
  // 100 ns units, each mark a share of it, a stop at the end as "to the
  // end". Whole clip when the marks make no segment.
  static std::pair<gint64, gint64> SegmentOf(int startMark, int stopMark, gint64 lengthNs) {
    constexpr int kScale = 10000;
    if (lengthNs <= 0 || startMark < 0 || stopMark > kScale || startMark >= stopMark)
      return {0, -1};
    const std::int64_t length = lengthNs / 100;
    const std::int64_t start = std::int64_t{startMark} * length / kScale;
    const std::int64_t stop = std::int64_t{stopMark} * length / kScale;
    return {start * 100, stop >= length ? -1 : stop * 100};
  }

  // Under the lock: the clips to hold now.
  std::vector<std::string> Choose() {
    std::vector<CueCandidate> candidates;
    int order = 0;
    // The windows' lists interleaved, so each window's first keys come
    // before any window's last ones.
    std::size_t longest = 0;
    for (auto& [owner, clips] : wanted) longest = std::max(longest, clips.size());
    for (std::size_t i = 0; i < longest; ++i)
      for (auto& [owner, clips] : wanted) {
        if (i >= clips.size()) continue;
        CueCandidate c;
        c.Path = clips[i].FileName;
        c.WantOrder = order++;
        if (auto it = lastPlayed.find(c.Path); it != lastPlayed.end()) c.LastPlayed = it->second;
        const Entry* e = Find(c.Path);
        c.Video = e ? e->Video : knownVideo.count(c.Path) > 0 && knownVideo[c.Path];
        if (e && e->State == Status::Ready)
          c.Bytes = e->Bytes;
        else if (auto it = knownBytes.find(c.Path); it != knownBytes.end())
          c.Bytes = it->second;
        else
          c.Bytes = c.Video ? kVideoGuess : kAudioGuess;
        candidates.push_back(std::move(c));
      }
    return ChooseCues(std::move(candidates), limits);
  }

  // Under the lock: one more failed try at cueing this entry's clip.
  void Failed(const Entry& e) {
    Failure& failure = failed[e.Path];
    if (failure.Identity != e.Identity) failure = {e.Identity, 0, {}};
    ++failure.Tries;
    failure.At = Clock::now();
  }

  // Worker thread, with the lock released: stops a decoder that is no
  // longer held. A read that hangs holds its streaming thread, and stopping
  // waits for that thread, so a thread of its own does it.
  void Stop(std::unique_ptr<Entry> e) {
    g_signal_handlers_disconnect_by_data(e->Decoder, this);
    gst_element_set_locked_state(e->Decoder, TRUE);
    gst_bin_remove(GST_BIN(pipeline), e->Decoder);
    ++stopping;
    std::thread([this, e = std::move(e)] {
      gst_element_set_state(e->Decoder, GST_STATE_NULL);
      for (PadState& p : e->Pads) gst_object_unref(p.Pad);
      gst_object_unref(e->Decoder);
      --stopping;
    }).detach();
  }

  // Worker thread, with the lock released: starts cueing a clip.
  void Start(const std::string& path) {
    const auto identity = FileIdentity::Of(path);
    GError* error = nullptr;
    gchar* uri = identity ? gst_filename_to_uri(path.c_str(), &error) : nullptr;
    g_clear_error(&error);
    GstElement* decoder = uri ? gst_element_factory_make("uridecodebin", nullptr) : nullptr;
    if (decoder == nullptr) {
      g_free(uri);
      std::lock_guard lock(mutex);
      failed[path] = {identity, kCueTries, Clock::now()};
      return;
    }
    g_object_set(decoder, "uri", uri, nullptr);
    g_free(uri);
    KeepProgramStreamStops(decoder, path);
    auto e = std::make_unique<Entry>();
    e->Path = path;
    e->Identity = identity;
    e->Decoder = GST_ELEMENT(gst_object_ref_sink(decoder));
    e->Started = Clock::now();
    e->ResidentBefore = ResidentBytes();
    {
      std::lock_guard lock(mutex);
      if (const ClipToCue* clip = Wanted(path)) {
        e->StartMark = clip->StartMark;
        e->StopMark = clip->StopMark;
      }
    }
    g_signal_connect(decoder, "pad-added", G_CALLBACK(&Impl::OnPadAdded), this);
    g_signal_connect(decoder, "no-more-pads", G_CALLBACK(&Impl::OnNoMorePads), this);
    {
      std::lock_guard lock(mutex);
      entries.push_back(std::move(e));
    }
    gst_bin_add(GST_BIN(pipeline), decoder);
    gst_element_sync_state_with_parent(decoder);
  }

  void Work() {
    // Cueing must never take the processor from the window or the sound.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    std::unique_lock lock(mutex);
    while (!quit) {
      // One clip at a time: wait until the one being cued is ready or fails.
      auto cueing = std::find_if(entries.begin(), entries.end(),
                                 [](auto& e) { return e->State == Status::Cueing; });
      if (cueing != entries.end()) {
        Entry& e = **cueing;
        if (IsCued(e) && !e.Segmented && SeamlessLoops()) {
          e.Segmented = true;
          GstPad* pad = nullptr;
          for (PadState& p : e.Pads) {
            if (p.Media && pad == nullptr) pad = GST_PAD(gst_object_ref(p.Pad));
            p.Blocked = false;
          }
          const int startMark = e.StartMark, stopMark = e.StopMark;
          const std::string path = e.Path;
          const std::optional<FileIdentity> identity = e.Identity;
          lock.unlock();
          // The length the graph will find for the clip, so that the key's
          // press finds it already at its marks.
          gint64 length = -1;
          if (const auto exact = ExactLengthNs(path, identity))
            length = *exact;
          else if (!gst_pad_query_duration(pad, GST_FORMAT_TIME, &length))
            length = -1;
          const auto [startNs, stopNs] = SegmentOf(startMark, stopMark, length);
          GstEvent* seek = gst_event_new_seek(
              1.0, GST_FORMAT_TIME,
              GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE | GST_SEEK_FLAG_SEGMENT),
              GST_SEEK_TYPE_SET, startNs, GST_SEEK_TYPE_SET, stopNs);
          const bool sought = gst_pad_send_event(pad, seek);
          gst_object_unref(pad);
          lock.lock();
          if (sought) {
            e.StartNs = startNs;
            e.StopNs = stopNs;
          } else {
            // Refused, the first buffers are still held where they were.
            for (PadState& p : e.Pads) p.Blocked = true;
          }
          continue;
        }
        if (IsCued(e)) {
          e.State = Status::Ready;
          failed.erase(e.Path);
          e.Bytes = std::max<std::int64_t>(0, ResidentBytes() - e.ResidentBefore);
          knownBytes[e.Path] = e.Bytes;
          knownVideo[e.Path] = e.Video;
          continue;
        }
        if (Clock::now() - e.Started < kCueTimeout) {
          wake.wait_until(lock, e.Started + kCueTimeout);
          continue;
        }
        e.State = Status::Failed;
      }
      // Failed, changed on disk, or no longer wanted: stopped.
      const std::vector<std::string> chosen = Choose();
      std::vector<std::unique_ptr<Entry>> released;
      for (auto it = entries.begin(); it != entries.end();) {
        Entry& e = **it;
        const bool keep = !e.Stale && e.State != Status::Failed &&
                          std::find(chosen.begin(), chosen.end(), e.Path) != chosen.end();
        if (keep) {
          ++it;
          continue;
        }
        if (e.State == Status::Failed) Failed(e);
        released.push_back(std::move(*it));
        it = entries.erase(it);
      }
      if (!released.empty()) {
        lock.unlock();
        for (auto& e : released) Stop(std::move(e));
        lock.lock();
        continue;
      }
      // The next clip to cue.
      std::optional<std::string> next;
      std::optional<Clock::time_point> retry;
      for (const std::string& path : chosen) {
        if (Find(path) != nullptr) continue;
        if (auto it = failed.find(path); it != failed.end()) {
          // Tried again a few times, and then only once the file changed.
          const Failure& failure = it->second;
          if (failure.Identity == FileIdentity::Of(path)) {
            if (failure.Tries >= kCueTries) continue;
            const auto due = failure.At + kCueAgainAfter;
            if (Clock::now() < due) {
              retry = retry ? std::min(*retry, due) : due;
              continue;
            }
          } else {
            failed.erase(it);
          }
        }
        if (auto it = takenAt.find(path); it != takenAt.end()) {
          const auto due = it->second + limits.CueAgainAfterTake;
          if (Clock::now() < due) {
            retry = retry ? std::min(*retry, due) : due;
            continue;
          }
        }
        next = path;
        break;
      }
      if (next) {
        lock.unlock();
        Start(*next);
        lock.lock();
        continue;
      }
      changed = false;
      if (retry)
        wake.wait_until(lock, *retry, [this] { return quit || changed; });
      else
        wake.wait(lock, [this] { return quit || changed; });
    }
  }

  std::optional<Taken> Take(const std::string& path, const std::optional<FileIdentity>& identity) {
    std::unique_ptr<Entry> e;
    {
      std::lock_guard lock(mutex);
      // Played: what the pool holds may change with it.
      lastPlayed[path] = ++plays;
      Changed();
      auto it = std::find_if(entries.begin(), entries.end(), [&](auto& entry) {
        return entry->Path == path && entry->State == Status::Ready && !entry->Stale;
      });
      if (it == entries.end()) return std::nullopt;
      if (!identity || !((*it)->Identity == identity)) {
        (*it)->Stale = true;
        return std::nullopt;
      }
      e = std::move(*it);
      entries.erase(it);
      takenAt[path] = Clock::now();
    }
    g_signal_handlers_disconnect_by_data(e->Decoder, this);
    gst_bin_remove(GST_BIN(pipeline), e->Decoder);
    Taken taken;
    taken.Decoder = e->Decoder;
    taken.StartNs = e->StartNs;
    taken.StopNs = e->StopNs;
    for (PadState& p : e->Pads) taken.Pads.push_back({p.Pad, p.Probe});
    return taken;
  }

  // Under the lock.
  void Changed() {
    changed = true;
    wake.notify_all();
  }

  mutable std::mutex mutex;
  std::condition_variable wake;
  std::map<const void*, std::vector<ClipToCue>> wanted;
  std::vector<std::unique_ptr<Entry>> entries;
  std::map<std::string, std::uint64_t> lastPlayed;
  std::uint64_t plays = 0;
  std::map<std::string, Clock::time_point> takenAt;
  struct Failure {
    std::optional<FileIdentity> Identity;
    int Tries = 0;
    Clock::time_point At;
  };
  std::map<std::string, Failure> failed;
  std::map<std::string, bool> knownVideo;
  std::map<std::string, std::int64_t> knownBytes;
  CueLimits limits;
  bool quit = false;
  bool changed = true;
  std::atomic<int> stopping{0};
  GstElement* pipeline = nullptr;
  std::thread worker;
};

CuePool& CuePool::Instance() {
  // Never destroyed: decoders may still be stopping when the process ends.
  static CuePool* pool = new CuePool;
  return *pool;
}

CuePool::CuePool() : d_(std::make_unique<Impl>()) {}

CuePool::~CuePool() = default;

void CuePool::Want(const void* owner, std::vector<ClipToCue> clips) {
  std::lock_guard lock(d_->mutex);
  if (d_->limits.Clips == 0 || clips.empty())
    d_->wanted.erase(owner);
  else
    d_->wanted[owner] = std::move(clips);
  d_->Changed();
}

void CuePool::Forget(const void* owner) {
  std::lock_guard lock(d_->mutex);
  d_->wanted.erase(owner);
  d_->Changed();
}

std::optional<CuePool::Taken> CuePool::Take(const std::string& path,
                                            const std::optional<FileIdentity>& identity) {
  return d_->Take(path, identity);
}

void CuePool::GivenUp(const std::string& path) {
  std::lock_guard lock(d_->mutex);
  if (d_->takenAt.erase(path) > 0) d_->Changed();
}

namespace {

// Runs on a taken clip's streaming thread, once, as its first buffer flows
// on. The thread was started by the pool's worker, whose low priority it
// inherited; now it feeds a window's sound, and a key's start waits for it.
// Where the system does not let the thread go back to the program's own
// priority, it stays as it was.
GstPadProbeReturn PlayAtProgramPriority(GstPad*, GstPadProbeInfo*, gpointer) {
  const int own = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), own);
  return GST_PAD_PROBE_REMOVE;
}

}  // namespace

void CuePool::Release(Taken& taken) {
  for (auto& p : taken.Pads) {
    gst_pad_add_probe(
        p.Pad,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        &PlayAtProgramPriority, nullptr, nullptr);
    gst_pad_remove_probe(p.Pad, p.Probe);
    gst_object_unref(p.Pad);
  }
  taken.Pads.clear();
}

CuePool::Status CuePool::StatusOf(const std::string& path) const {
  std::lock_guard lock(d_->mutex);
  if (const Impl::Entry* e = d_->Find(path)) return e->State;
  return d_->failed.count(path) ? Status::Failed : Status::None;
}

int CuePool::Ready() const {
  std::lock_guard lock(d_->mutex);
  return static_cast<int>(std::count_if(d_->entries.begin(), d_->entries.end(),
                                        [](auto& e) { return e->State == Status::Ready; }));
}

bool CuePool::Settled() const {
  std::lock_guard lock(d_->mutex);
  if (d_->stopping > 0) return false;
  const std::vector<std::string> chosen = d_->Choose();
  for (auto& e : d_->entries)
    if (e->State != Status::Ready || e->Stale ||
        std::find(chosen.begin(), chosen.end(), e->Path) == chosen.end())
      return false;
  for (const std::string& path : chosen) {
    const auto failure = d_->failed.find(path);
    const bool givenUp = failure != d_->failed.end() && failure->second.Tries >= kCueTries;
    if (d_->Find(path) == nullptr && !givenUp) return false;
  }
  return true;
}

std::int64_t CuePool::Bytes() const {
  std::lock_guard lock(d_->mutex);
  std::int64_t bytes = 0;
  for (auto& e : d_->entries)
    if (e->State == Status::Ready) bytes += e->Bytes;
  return bytes;
}

void CuePool::SetLimits(const CueLimits& limits) {
  std::lock_guard lock(d_->mutex);
  d_->limits = limits;
  d_->Changed();
}

CueLimits CuePool::Limits() const {
  std::lock_guard lock(d_->mutex);
  return d_->limits;
}

void CuePool::Clear() {
  std::lock_guard lock(d_->mutex);
  d_->wanted.clear();
  d_->failed.clear();
  d_->takenAt.clear();
  d_->lastPlayed.clear();
  d_->Changed();
}

}  // namespace engine
