#pragma once
// Reads a clip's peaks off the window thread: from the peak cache when the
// file is unchanged since it was last read, else by decoding the whole file
// (which is then cached). Reports progress while decoding; starting another
// file cancels the one in progress. Never touches widgets.

#include "waveform/PeakCache.h"
#include "waveform/Peaks.h"

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace waveform {

struct PeakResult {
  std::shared_ptr<const Peaks> peaks;  // null: the file has no waveform
  bool fromCache = false;
};

// The whole job on the calling thread: identity, cache, decoding, caching.
// progress (0 to 100) is called while decoding when the length is known.
PeakResult ReadPeaks(const QString& path, const PeakCache& cache, const std::atomic<bool>& cancel,
                     const std::function<void(int)>& progress = {});

class PeakReader : public QObject {
  Q_OBJECT
 public:
  explicit PeakReader(QObject* parent = nullptr, const PeakCache& cache = PeakCache());
  // Cancels the reading and waits for its thread, which stops within a
  // decoder block.
  ~PeakReader() override;

  // Starts reading path's peaks, cancelling a reading of another file. The
  // same file again is read again only when it changed.
  void Read(const QString& path);
  // Cancels the reading; nothing more is reported for it.
  void Cancel();
  // The file being read or read last; empty after Cancel.
  QString Path() const { return path_; }
  // Whether the last peaks came from the cache.
  bool FromCache() const { return fromCache_; }

 signals:
  // Reported on the window thread.
  void Progress(int percent);
  void Ready(const QString& path, std::shared_ptr<const waveform::Peaks> peaks);
  // The file can't be decoded or has no sound: there is no waveform.
  void Failed(const QString& path);

 private:
  PeakCache cache_;
  QThreadPool pool_;
  QString path_;
  std::shared_ptr<std::atomic<bool>> cancel_;
  std::optional<FileIdentity> identity_;
  bool fromCache_ = false;
  unsigned generation_ = 0;
};

}  // namespace waveform
