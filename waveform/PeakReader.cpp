#include "waveform/PeakReader.h"

#include "engine/SoundReader.h"

#include <QFile>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <optional>

namespace waveform {

PeakResult ReadPeaks(const QString& path, const PeakCache& cache, const std::atomic<bool>& cancel,
                     const std::function<void(int)>& progress) {
  const std::optional<FileIdentity> identity = IdentityOf(path);
  if (!identity) return {};
  if (std::optional<Peaks> cached = cache.Load(*identity))
    return {std::make_shared<const Peaks>(std::move(*cached)), true};

  std::optional<PeakFolder> folder;
  std::int64_t expected = -1;
  std::int64_t read = 0;
  int reported = -1;
  const engine::SoundReadResult result = engine::ReadSound(
      QFile::encodeName(path).toStdString(),
      [&](const engine::SoundFormat& format) {
        folder.emplace(format.rate, format.channels);
        expected = format.frames;
      },
      [&](const float* frames, std::int64_t count) {
        folder->Add(frames, count);
        read += count;
        if (progress && expected > 0) {
          const int percent = int(std::min<std::int64_t>(99, read * 100 / expected));
          if (percent != reported) progress(reported = percent);
        }
      },
      cancel);
  if (result != engine::SoundReadResult::kDone || !folder) return {};
  auto peaks = std::make_shared<Peaks>(folder->Finish());
  if (peaks->Empty()) return {};
  // Cached only when the file stayed the same while it was read.
  if (IdentityOf(path) == identity) cache.Store(*identity, *peaks);
  return {std::move(peaks), false};
}

namespace {

// The reader's thread folds every decoded sample; it yields to the window
// and to playing clips, which run at normal priority.
void LowerThisThread() {
  static thread_local bool lowered = false;
  if (lowered) return;
  lowered = true;
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
}

}  // namespace

PeakReader::PeakReader(QObject* parent, const PeakCache& cache) : QObject(parent), cache_(cache) {
  // One reading at a time: a cancelled one ends within a block, and two
  // decoders would only halve each other's speed.
  pool_.setMaxThreadCount(1);
  // Readings are rare: a thread is made for each rather than kept idle.
  pool_.setExpiryTimeout(0);
}

PeakReader::~PeakReader() {
  Cancel();
  pool_.waitForDone();
}

void PeakReader::Cancel() {
  if (cancel_) *cancel_ = true;
  cancel_.reset();
  path_.clear();
  identity_.reset();
  ++generation_;
}

void PeakReader::Read(const QString& path) {
  const std::optional<FileIdentity> identity = IdentityOf(path);
  if (path == path_ && identity && identity == identity_) return;
  Cancel();
  path_ = path;
  identity_ = identity;
  fromCache_ = false;
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  const unsigned generation = generation_;
  auto cancel = cancel_;
  const PeakCache cache = cache_;
  pool_.start([this, path, cache, cancel, generation] {
    // Runs on the reader's pool thread; hands everything to the window
    // thread, where stale generations are dropped.
    LowerThisThread();
    // Files passed over quickly (keys played one after the other) are
    // never opened.
    if (*cancel) return;
    auto progress = [this, cancel, generation](int percent) {
      if (*cancel) return;
      QMetaObject::invokeMethod(
          this,
          [this, generation, percent] {
            if (generation == generation_) emit Progress(percent);
          },
          Qt::QueuedConnection);
    };
    PeakResult result = ReadPeaks(path, cache, *cancel, progress);
    if (*cancel) return;
    QMetaObject::invokeMethod(
        this,
        [this, generation, path, result] {
          if (generation != generation_) return;
          fromCache_ = result.fromCache;
          if (result.peaks)
            emit Ready(path, result.peaks);
          else
            emit Failed(path);
        },
        Qt::QueuedConnection);
  });
}

}  // namespace waveform
