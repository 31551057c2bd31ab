#pragma once
// The media graph over GStreamer. One pipeline per graph, kept for the
// graph's whole life: a clip's source and decoders come and go, while its
// default audio output stays connected to the sound server, holding its
// device, between clips. The decoder of the last clip that played through
// that output alone, or of a picture without sound, is kept cued, so the
// same file (unchanged on disk) opens again with a seek instead of a new
// decoder, and shows its first frame at once. The pipeline runs on the
// clock that every graph of the process shares (SharedClock.h), so starting
// and reading positions never wait for the sound server's cycle, and graphs
// can start together (GroupStart.h).
//
// Filters as the graph shows them: the source (the file and its decoders,
// one output pin per stream), the audio renderer (conversion, volume and the
// sink), the video renderer (frames into a VideoSurface inside the owner
// window) and null renderers. EnumFilters lists renderers first.
//
// Threads: every call on the window thread. GStreamer's bus reaches the graph
// through a sync handler that posts each message to the graph as an event
// stamped with the clip's generation; stale ones are dropped on arrival, the
// rest are queued and announced to the notify window with a posted message.

#include "engine/MediaGraph.h"

#include <QObject>

#include <functional>
#include <memory>

namespace engine {

class GstMediaGraph : public QObject, public MediaGraph, public IClipCue, public IArmedStart,
                      public ILoopAhead {
 public:
  GstMediaGraph();
  ~GstMediaGraph() override;

  HRESULT RenderFile(const std::string& fileName) override;
  HRESULT AddFilter(const std::shared_ptr<IBaseFilter>& filter, const std::string* name) override;
  HRESULT RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) override;
  HRESULT EnumFilters(std::vector<std::shared_ptr<IBaseFilter>>& filters) override;
  HRESULT Connect(const std::shared_ptr<IPin>& output, const std::shared_ptr<IPin>& input) override;
  HRESULT CreateFilter(const Guid& classId, std::shared_ptr<IBaseFilter>& filter) override;
  std::string LastErrorDetail() const override;
  std::string LastErrorReason() const override;
  HRESULT SetOutputName(const std::string& name) override;
  void SetOutputDevice(const std::string& key, const std::string& label) override;
  void OpenOutput() override;
  void SetOutputConnections(const std::vector<std::string>& links) override;
  std::vector<std::string> OutputConnections() const override;
  std::string TakeOutputNotice() override;
  void CueClips(const std::vector<ClipToCue>& clips) override;

  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;
  HRESULT GetState(long timeoutMs, FilterState& state) override;

  HRESULT GetDuration(REFERENCE_TIME& duration) override;
  HRESULT GetCurrentPosition(REFERENCE_TIME& position) override;
  HRESULT SetPositions(const REFERENCE_TIME* current, unsigned currentFlags,
                       const REFERENCE_TIME* stop, unsigned stopFlags) override;
  HRESULT GetRate(double& rate) override;
  HRESULT SetRate(double rate) override;
  HRESULT IsFormatSupported(const Guid& format) override;
  HRESULT IsUsingTimeFormat(const Guid& format) override;
  HRESULT GetTimeFormat(Guid& format) override;
  HRESULT SetTimeFormat(const Guid& format) override;

  HRESULT get_Volume(long& volume) override;
  HRESULT put_Volume(long volume) override;

  HRESULT put_Owner(QWidget* owner) override;
  HRESULT get_Owner(QWidget*& owner) override;
  HRESULT put_WindowStyle(long style) override;
  HRESULT put_Visible(long visible) override;
  HRESULT put_MessageDrain(QObject* drain) override;
  HRESULT put_FullScreenMode(long mode) override;
  HRESULT SetWindowPosition(long left, long top, long width, long height) override;
  HRESULT GetWindowPosition(long& left, long& top, long& width, long& height) override;

  HRESULT GetVideoSize(long& width, long& height) override;
  HRESULT SetSourcePosition(long left, long top, long width, long height) override;

  HRESULT SetNotifyWindow(QObject* window, int msg, std::intptr_t instance) override;
  HRESULT SetNotifyFlags(long flags) override;
  HRESULT GetEvent(long& code, std::intptr_t& param1, std::intptr_t& param2,
                   long timeoutMs) override;
  HRESULT FreeEventParams(long code, std::intptr_t param1, std::intptr_t param2) override;

  // For measurements: called on a streaming thread with the first buffer
  // that reaches the audio sink after each flush (a new clip or a seek).
  void SetAudioBufferObserver(std::function<void()> observer);
  // The pipeline's running time in 100 ns units (0 when not running): how
  // long the clip has been playing by the pipeline's own clock.
  REFERENCE_TIME RunningTime() const;
  // How much sound, in 100 ns units, the graph's audio outputs have taken
  // since it was created.
  REFERENCE_TIME AudioTaken() const;
  // How many flushing seeks the graph has made since it was created.
  std::shared_ptr<ArmedStart> Armed() override { return armed_; }
  void ContinueFromHead(std::int64_t clipNs, std::uint64_t baseNs) override;

  // ILoopAhead
  void LoopAtEnd(std::optional<std::pair<REFERENCE_TIME, REFERENCE_TIME>> loop) override;
  int FlushingSeeks() const;
  // Sources of removed clips that workers are still stopping, in the whole
  // process (for tests that count what is left).
  static int PendingTeardowns();
  // The element name of the default audio output ("jackaudiosink", ...).
  static std::string DefaultAudioSinkName();

 protected:
  bool event(QEvent* event) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
  std::shared_ptr<ArmedStart> armed_;
};

}  // namespace engine
