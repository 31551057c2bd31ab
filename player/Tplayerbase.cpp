#include "player/Tplayerbase.h"

#include "engine/cue/ArmedStart.h"
#include "engine/timing/GroupStart.h"
#include "platform/WindowMessages.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QWidget>

#include <algorithm>
#include <cmath>

using namespace engine;

namespace {

constexpr long kVideoWindowStyle = 0x46000000;  // child, clip siblings, clip children

// Rounds to the nearest integer, ties to even.
long double RoundEven(long double v) {
  return std::nearbyint(v);
}

// A missing interface answers like a graph that has none.
template <typename I, typename F>
HRESULT Use(const std::shared_ptr<I>& ref, F&& call) {
  return ref ? call(*ref) : E_NOINTERFACE;
}

}  // namespace

int VolumeCurve(int x) {
  const long double lx = x;
  return static_cast<int>(RoundEven(lx / (17.0L - 0.0016L * lx)));
}

int InverseVolumeCurve(int target, float width, float low) {
  for (;;) {
    const int mid = static_cast<int>(RoundEven(static_cast<long double>(low) + width / 2.0L));
    const int c = VolumeCurve(mid);
    if ((c - 5 < target && target < c + 5) || width == 0.0f) return mid;
    const float half = width / 2.0f;
    if (target >= c) low = static_cast<float>(low + width / 2.0L);
    width = half;
  }
}

TPlayer::GroupStart::GroupStart(bool together) {
  if (together) start_ = std::make_unique<engine::GroupStart>();
}

TPlayer::GroupStart::~GroupStart() = default;

void TPlayer::GroupStart::Start() {
  if (start_) start_->Start();
}

void TPlayer::GroupStart::StartAt(std::uint64_t onsetNs) {
  if (start_) start_->StartAt(onsetNs);
}

TPlayer::TPlayer(QObject* ownerWindow, int messageOffset)
    : NotifyWindow(ownerWindow), MessageOffset(messageOffset) {
  Construct(nullptr);
}

TPlayer::TPlayer(QObject* ownerWindow, int messageOffset, std::shared_ptr<MediaGraph> graph)
    : NotifyWindow(ownerWindow), MessageOffset(messageOffset) {
  Construct(std::move(graph));
}

void TPlayer::Construct(std::shared_ptr<MediaGraph> graph) {
  InitializePlayerDevices();
  if (graph)
    FGraphBuilder = std::move(graph);
  else
    AssignGraphBuilder(FGraphBuilder);
  AssignMediaControl(FGraphBuilder, FMediaControl);
  AssignMediaSeeking(FGraphBuilder, FMediaSeeking);
  AssignBasicAudio(FGraphBuilder, FBasicAudio);
  AssignVideoWindow(FGraphBuilder, FVideoWindow);
  AssignBasicVideo(FGraphBuilder, FBasicVideo);
  AssignInterface(FGraphBuilder, FMediaEventEx);
  SCheck(Use(FMediaEventEx, [&](IMediaEventEx& e) {
    return e.SetNotifyWindow(NotifyWindow, platform::WM_PLAYERNOTIFY + MessageOffset,
                             platform::PN_MEDIAEVENT);
  }));
  SCheck(Use(FMediaEventEx, [](IMediaEventEx& e) { return e.SetNotifyFlags(0); }));
}

TPlayer::~TPlayer() {
  if (VideoOwner != nullptr && FVideoWindow) {
    FVideoWindow->put_Visible(0);
    FVideoWindow->put_Owner(nullptr);
  }
  if (FAudioRenderer && FGraphBuilder) FGraphBuilder->RemoveFilter(FAudioRenderer);
  FBasicAudio.reset();
  FMediaSeeking.reset();
  FMediaControl.reset();
  FVideoWindow.reset();
  FBasicVideo.reset();
  FGraphBuilder.reset();
  FAudioRenderer.reset();
  FMediaEventEx.reset();
}

void TPlayer::Notify(int code) {
  platform::SendMessage(NotifyWindow, platform::WM_PLAYERNOTIFY + MessageOffset, 0, code);
}

int TPlayer::Guard(int result) {
  const std::string detail = FGraphBuilder ? FGraphBuilder->LastErrorDetail() : std::string();
  try {
    return SCheck(result, detail);
  } catch (const EPlayerError& e) {
    // A failure the fixed texts don't tell apart: the clip's file and why.
    if (FileName.isEmpty() || e.Text() != _ERR_UNKNOWN) throw;
    throw ClipError(e.Text());
  }
}

EPlayerError TPlayer::ClipError(const std::string& text) const {
  std::string detail = FGraphBuilder ? FGraphBuilder->LastErrorDetail() : std::string();
  if (FileName.isEmpty()) return EPlayerError(text, detail);
  std::string reason = FGraphBuilder ? FGraphBuilder->LastErrorReason() : std::string();
  if (reason.empty()) reason = "the media framework gave no reason";
  return EPlayerError(text, FileName.toStdString(), reason, std::move(detail));
}

void TPlayer::Handle(QObject* window) {
  NotifyWindow = window;
  Guard(Use(FMediaEventEx, [&](IMediaEventEx& e) {
    return e.SetNotifyWindow(window, platform::WM_PLAYERNOTIFY + MessageOffset,
                             platform::PN_MEDIAEVENT);
  }));
  Guard(Use(FMediaEventEx, [](IMediaEventEx& e) { return e.SetNotifyFlags(0); }));
  Use(FVideoWindow, [&](IVideoWindow& v) { return v.put_MessageDrain(window); });
}

void TPlayer::HandleVideo(QWidget* window) {
  VideoOwner = window;
}

void TPlayer::FullScreen(int mode) {
  Guard(Use(FVideoWindow, [&](IVideoWindow& v) { return v.put_FullScreenMode(mode); }));
}

void TPlayer::ResizeVideo(int left, int top, int width, int height) {
  Guard(Use(FVideoWindow,
            [&](IVideoWindow& v) { return v.SetWindowPosition(left, top, width, height); }));
}

void TPlayer::ResizeDestinationVideo(int left, int top, int width, int height) {
  Guard(Use(FBasicVideo,
            [&](IBasicVideo& v) { return v.SetSourcePosition(left, top, width, height); }));
}

void TPlayer::GetWindowPosition(int& left, int& top, int& width, int& height) {
  long l = left, t = top, w = width, h = height;
  Guard(Use(FVideoWindow, [&](IVideoWindow& v) { return v.GetWindowPosition(l, t, w, h); }));
  left = l;
  top = t;
  width = w;
  height = h;
}

void TPlayer::GetVideoSize(int& width, int& height) {
  // Without a picture the graph cannot answer; the size reads 0 x 0.
  long w = 0, h = 0;
  Guard(Use(FBasicVideo, [&](IBasicVideo& v) { return v.GetVideoSize(w, h); }));
  width = w;
  height = h;
}

void TPlayer::CleanUpGraph() {
  std::vector<std::shared_ptr<IBaseFilter>> filters;
  if (Failed(FGraphBuilder->EnumFilters(filters))) return;
  if (OnCleanUp) OnCleanUp(this);
  for (auto& f : filters) FGraphBuilder->RemoveFilter(f);
  filters.clear();
  FAudioRenderer.reset();
}

void TPlayer::RenderCurrentFile() {
  // The whole path goes to the graph: no fixed-size buffer cuts it short.
  const HRESULT hr = FGraphBuilder->RenderFile(FileName.toStdString());
  if (hr == E_FILE_NOT_FOUND) throw ClipError(_ERR_NOFILE);
  if (hr == VFW_E_TIMEOUT) throw ClipError(kOpenTimeoutText);
  if (hr == E_PENDING) throw ClipError(kOpenPendingText);
  if (hr == VFW_E_NO_AUDIO_HARDWARE)
    throw ClipError("The sound output stopped working while the clip was opened (" +
                    FGraphBuilder->LastErrorDetail() + "). It is opened again at the next clip.");
  if (hr == VFW_E_UNSUPPORTED_STREAM)
    throw ClipError("This clip needs a media plugin that is not installed: " +
                    FGraphBuilder->LastErrorDetail() + ".");
  Guard(hr);
}

// Renders FileName, checks the chosen audio device's renderer took the sound,
// and reads the clip's length: the part loading and measuring share.
void TPlayer::RenderAndReadDuration() {
  RenderCurrentFile();
  if (UseAudioDevice) {
    GetAudioRenderer(FGraphBuilder, FAudioRenderer);
    if (!FAudioRenderer) throw EPlayerError(_ERSTR_NO_AUDIO_STREAM);
    if (!IsFilterConnected(FAudioRenderer)) throw EPlayerError(_ERSTR_DEVICE_NOT_CONNECTED);
  }
  REFERENCE_TIME duration = 0;
  Guard(Use(FMediaSeeking, [&](IMediaSeeking& s) { return s.GetDuration(duration); }));
  Duration = std::max<REFERENCE_TIME>(duration, 0);
  DurationFollowsGraph_ = Duration == 0;
}

void TPlayer::RefreshDuration() {
  if (!DurationFollowsGraph_ || !FMediaSeeking) return;
  REFERENCE_TIME duration = 0;
  if (FMediaSeeking->GetDuration(duration) == S_OK && duration > 0) Duration = duration;
}

void TPlayer::LoadFile(bool keepPosition) {
  CleanUpGraph();
  if (UseAudioDevice) AddAudioRenderer(FGraphBuilder, FAudioRenderer, DeviceIndex);
  FAudioRenderer.reset();
  RenderAndReadDuration();
  State = fsOpened;
  if (VideoOwner != nullptr && FVideoWindow && FVideoWindow->put_Owner(VideoOwner) == S_OK) {
    VideoPresent = true;
    Notify(platform::PN_VIDEO);
    Guard(FVideoWindow->put_WindowStyle(kVideoWindowStyle));
  } else {
    VideoPresent = false;
    Notify(platform::PN_NOVIDEO);
  }
  if (FVideoWindow) {
    QWidget* owner = VideoOwner;
    FVideoWindow->get_Owner(owner);
    VideoOwner = owner;
  }
  if (OnOpened) OnOpened(this);
  if (VideoOnly) {
    std::shared_ptr<IBaseFilter> ignored;
    GetVideoRenderer(FGraphBuilder, ignored);
  }
  if (!keepPosition) SetPosition(0);
  const QString name = QString::fromStdString(GetFirstAudioRendererName(FGraphBuilder));
  DeviceIndex = TPlayerDeviceList.indexOf(name);
  if (DeviceIndex == -1)
    DeviceIndex =
        TPlayerDeviceList.indexOf(name.size() < 5 ? QString() : name.left(name.size() - 5));
  Notify(platform::PN_LOADED);
}

void TPlayer::LoadFileDuration(bool) {
  CleanUpGraph();
  FAudioRenderer.reset();
  RenderAndReadDuration();
}

void TPlayer::Open(const QString& fileName) {
  Notify(platform::PN_OPENING);
  try {
    if (const QFileInfo file(fileName); !file.isFile())
      throw EPlayerError(_ERR_NOFILE, fileName.toStdString(),
                         !file.exists() ? "there is no file of that name"
                         : file.isDir() ? "it is a folder, not a file"
                                        : "it is not a plain file",
                         {});
    FileName = fileName;
    if (State != fsStopped)
      StopFMC();
    else
      Guard(Use(FMediaControl, [](IMediaControl& c) { return c.Stop(); }));
    Guard(Use(FVideoWindow, [](IVideoWindow& v) { return v.put_Visible(0); }));
    LoadFile(false);
    Notify(platform::PN_OPENED);
    if (AutoPlay) Play();
  } catch (...) {
    Notify(platform::PN_OPENFAILED);
    if (FAudioRenderer) CleanUpGraph();
    throw;
  }
}

void TPlayer::Close() {
  if (State == fsPlaying)
    StopFMC();
  else
    Guard(Use(FMediaControl, [](IMediaControl& c) { return c.Stop(); }));
  CleanUpGraph();
  Notify(platform::PN_CLOSED);
}

void TPlayer::Play() {
  try {
    if (VideoPresent) Guard(Use(FVideoWindow, [](IVideoWindow& v) { return v.put_Visible(-1); }));
    Guard(Use(FMediaControl, [](IMediaControl& c) { return c.Run(); }));
    Use(FVideoWindow, [&](IVideoWindow& v) { return v.put_MessageDrain(VideoOwner); });
    WaitForState(fsPlaying);
    State = fsPlaying;
    Notify(platform::PN_PLAYING);
  } catch (...) {
    Notify(platform::PN_PLAYFAILED);
    throw;
  }
}

void TPlayer::Pause() {
  if (State == fsPlaying) {
    Guard(Use(FMediaControl, [](IMediaControl& c) { return c.Pause(); }));
    State = fsPaused;
  } else {
    Guard(Use(FMediaControl, [](IMediaControl& c) { return c.Run(); }));
    State = fsPlaying;
  }
  WaitForState(State);
}

void TPlayer::Stop() {
  if (armedSeq_ != 0)
    if (auto armed = Armed()) armed->Silence(std::exchange(armedSeq_, 0));
  StopGraph(true);
}

void TPlayer::StopFMC() {
  StopGraph(false);
}

void TPlayer::StopGraph(bool cue) {
  try {
    Notify(platform::PN_STOPPING);
    Guard(Use(FMediaControl, [](IMediaControl& c) { return c.Stop(); }));
    WaitForState(fsStopped);
    State = fsStopped;
    if (AutoRewind) Rewind();
    // Cued: the picture keeps its frame and the next Play starts at once.
    if (cue) Guard(Use(FMediaControl, [](IMediaControl& c) { return c.Pause(); }));
    Notify(platform::PN_STOPPED);
  } catch (...) {
    Notify(platform::PN_STOPFAILED);
    throw;
  }
}

void TPlayer::Rewind() {
  try {
    SetPosition(0);
    Notify(platform::PN_REWOUND);
  } catch (...) {
    Notify(platform::PN_REWINDFAILED);
    throw;
  }
}

void TPlayer::WaitForState(TPlayer_State state) {
  if (!FMediaControl) return;
  // Bounded, so a graph that hangs or has failed cannot freeze the window.
  QDeadlineTimer deadline(kStateTimeout);
  for (;;) {
    FilterState reached = FilterState::State_Stopped;
    const HRESULT hr = FMediaControl->GetState(10, reached);
    if (static_cast<int>(reached) == static_cast<int>(state) && Succeeded(hr)) return;
    if (Failed(hr) && hr != E_NOTIMPL && hr != E_NOINTERFACE) Guard(hr);
    if (deadline.hasExpired()) {
      if (hr == VFW_S_STATE_INTERMEDIATE) return;
      throw ClipError(kStateTimeoutText);
    }
  }
}

int TPlayer::GetMediaEvent() {
  if (!FMediaEventEx) return 0;
  long code = 0;
  std::intptr_t p1 = 0, p2 = 0;
  const HRESULT hr = FMediaEventEx->GetEvent(code, p1, p2, 0);
  if (hr == E_ABORT) return 0;
  FMediaEventEx->FreeEventParams(code, p1, p2);
  return static_cast<int>(code);
}

std::int64_t TPlayer::GetPosition() {
  try {
    // A graph without a seekable clip cannot answer; the position reads 0.
    REFERENCE_TIME position = 0;
    Guard(Use(FMediaSeeking, [&](IMediaSeeking& s) { return s.GetCurrentPosition(position); }));
    RefreshDuration();
    return position;
  } catch (...) {
    Notify(platform::PN_POSITIONFAILED);
    throw;
  }
}

void TPlayer::SetPosition(std::int64_t position) {
  Guard(Use(FMediaSeeking, [&](IMediaSeeking& s) {
    return s.SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                          AM_SEEKING_NoPositioning);
  }));
}

std::int64_t TPlayer::ToAbsolute(int scale, int value, int margin, bool stop) const {
  if (value < margin)
    value = margin;
  else if (value > scale - margin)
    value = scale - margin;
  const std::int64_t span = scale - 2 * margin;
  if (span <= 0) return 0;  // a scale with no room maps everything to the start
  // A length still being learnt is an estimate: the end mark means the end.
  if (stop && DurationFollowsGraph_ && (Duration <= 0 || value == scale - margin))
    return kPlayToEnd;
  return static_cast<std::int64_t>(value - margin) * Duration / span;
}

std::int64_t TPlayer::GetRelativePosition(int scale, int margin,
                                          std::optional<std::int64_t>* position) {
  RefreshDuration();
  if (Duration == 0) return 0;  // nothing loaded, or a length not known yet
  const std::int64_t at = GetPosition();
  if (position != nullptr) *position = at;
  return static_cast<std::int64_t>(scale - 2 * margin) * at / Duration;
}

void TPlayer::SetRelativePosition(int scale, int position, int margin) {
  RefreshDuration();
  SetPosition(ToAbsolute(scale, position, margin, false));
}

void TPlayer::SetRelativePositions(int scale, int start, int stop, int margin) {
  RefreshDuration();
  std::int64_t from = ToAbsolute(scale, start, margin, false);
  std::int64_t to = ToAbsolute(scale, stop, margin, true);
  Guard(Use(FMediaSeeking, [&](IMediaSeeking& s) {
    return s.SetPositions(&from, AM_SEEKING_AbsolutePositioning, &to,
                          AM_SEEKING_AbsolutePositioning);
  }));
}

void TPlayer::SetRelativeStop(int scale, int stop, int margin) {
  RefreshDuration();
  std::int64_t to = ToAbsolute(scale, stop, margin, true);
  Guard(Use(FMediaSeeking, [&](IMediaSeeking& s) {
    return s.SetPositions(nullptr, AM_SEEKING_NoPositioning, &to, AM_SEEKING_AbsolutePositioning);
  }));
}

double TPlayer::GetRate() {
  try {
    // A graph that cannot answer plays at normal speed.
    double rate = 1.0;
    Guard(Use(FMediaSeeking, [&](IMediaSeeking& s) { return s.GetRate(rate); }));
    return rate;
  } catch (...) {
    Notify(platform::PN_RATEFAILED);
    throw;
  }
}

void TPlayer::SetRate(double rate) {
  Guard(Use(FMediaSeeking, [&](IMediaSeeking& s) { return s.SetRate(rate); }));
}

bool TPlayer::IsTimeFormatSupported(const Guid& format) {
  return Use(FMediaSeeking, [&](IMediaSeeking& s) { return s.IsFormatSupported(format); }) == S_OK;
}

bool TPlayer::IsUsingTimeFormat(const Guid& format) {
  return Use(FMediaSeeking, [&](IMediaSeeking& s) { return s.IsUsingTimeFormat(format); }) == S_OK;
}

Guid TPlayer::GetTimeFormat() {
  Guid format = TIME_FORMAT_MEDIA_TIME;
  Guard(Use(FMediaSeeking, [&](IMediaSeeking& s) { return s.GetTimeFormat(format); }));
  return format;
}

void TPlayer::SetTimeFormat(const Guid& format) {
  Guard(Use(FMediaSeeking, [&](IMediaSeeking& s) { return s.SetTimeFormat(format); }));
}

bool TPlayer::CompareCurTimeFormat(const Guid* format) {
  const Guid current = GetTimeFormat();
  return format != nullptr && current == *format;
}

bool TPlayer::UsesWaveVolume() const {
  return !(UseGraphVolume && !FileName.isEmpty());
}

int TPlayer::GetVolume() {
  try {
    if (!UsesWaveVolume()) {
      // A clip without sound cannot answer: it reads back the volume last
      // asked for, so a volume bar that follows the reading stays where the
      // user left it instead of jumping to full volume.
      long volume = requestedVolume_;
      Guard(Use(FBasicAudio, [&](IBasicAudio& a) { return a.get_Volume(volume); }));
      return static_cast<int>(volume);
    }
    std::uint32_t wave = 0;
    SMCICheck(static_cast<int>(WaveOutGetVolume(0, wave)));
    return static_cast<int>(((wave >> 16) + (wave & 0xFFFF)) >> 1);
  } catch (...) {
    Notify(platform::PN_VOLUMEFAILED);
    throw;
  }
}

void TPlayer::SetVolume(int volume) {
  if (UsesWaveVolume())
    SetWaveOutVolume(volume);
  else
    SetDeviceVolume(volume);
}

void TPlayer::SetDeviceVolume(int volume) {
  requestedVolume_ = volume;
  Guard(Use(FBasicAudio, [&](IBasicAudio& a) { return a.put_Volume(volume); }));
}

void TPlayer::SetWaveOutVolume(int volume) {
  const std::uint32_t level = static_cast<std::uint32_t>(std::clamp(volume, 0, 65535));
  SMCICheck(static_cast<int>(WaveOutSetVolume(0, level * 65537u)));
}

int TPlayer::GetRelativeVolume(int scale, int page, int margin) {
  const int span = scale - page - 2 * margin;
  if (!UsesWaveVolume()) {
    const int x = InverseVolumeCurve(-GetVolume(), 10000, 0);
    return static_cast<int>(RoundEven(static_cast<long double>(x) * span / 10000));
  }
  const int w = GetVolume();
  return static_cast<int>(RoundEven(span - static_cast<long double>(w) * span / 65535));
}

int TPlayer::SetRelativeVolume(int scale, int page, int origin, int margin, int position) {
  int p = position - origin;
  const int hi = scale - (margin + page);
  if (p < margin)
    p = margin;
  else if (p > hi)
    p = hi;
  const int span = hi - margin;
  if (span <= 0) return p;  // a bar with no travel has no volume to set
  if (!UsesWaveVolume()) {
    const int x = static_cast<int>(RoundEven(static_cast<long double>(p) * 10000 / span));
    SetDeviceVolume(-VolumeCurve(x));
  } else {
    SetWaveOutVolume(
        static_cast<int>(RoundEven(static_cast<long double>(span - p) * 65535 / span)));
  }
  return p;
}

void TPlayer::SetOutputName(const QString& name) {
  if (auto output = std::dynamic_pointer_cast<IAudioOutput>(FGraphBuilder))
    output->SetOutputName(name.toStdString());
}

void TPlayer::SetOutputDevice(const QString& key, const QString& label) {
  if (auto output = std::dynamic_pointer_cast<IAudioOutput>(FGraphBuilder)) {
    output->SetOutputDevice(key.toStdString(), label.toStdString());
    output->OpenOutput();
  }
}

void TPlayer::SetOutputConnections(const QStringList& links) {
  std::vector<std::string> texts;
  for (const QString& link : links) texts.push_back(link.toStdString());
  if (auto output = std::dynamic_pointer_cast<IAudioOutput>(FGraphBuilder))
    output->SetOutputConnections(texts);
}

QStringList TPlayer::OutputConnections() const {
  QStringList links;
  if (auto output = std::dynamic_pointer_cast<IAudioOutput>(FGraphBuilder))
    for (const std::string& link : output->OutputConnections())
      links.push_back(QString::fromStdString(link));
  return links;
}

QString TPlayer::TakeOutputNotice() {
  if (auto output = std::dynamic_pointer_cast<IAudioOutput>(FGraphBuilder))
    return QString::fromStdString(output->TakeOutputNotice());
  return {};
}

std::shared_ptr<engine::ArmedStart> TPlayer::Armed() const {
  auto graph = std::dynamic_pointer_cast<engine::IArmedStart>(FGraphBuilder);
  return graph ? graph->Armed() : nullptr;
}

void TPlayer::ContinueArmed(int key, int scale, int start) {
  auto graph = std::dynamic_pointer_cast<engine::IArmedStart>(FGraphBuilder);
  std::shared_ptr<engine::ArmedStart> armed = graph ? graph->Armed() : nullptr;
  if (!armed || !armed->Pending()) return;
  // A head read at another rate than the clip plays at is withdrawn.
  double rate = 0;
  try {
    rate = GetRate();
  } catch (...) {
    armed->Withdraw();
    return;
  }
  RefreshDuration();
  const std::int64_t startNs = ToAbsolute(scale, start, 0, false) * 100;
  // The output takes an arm in its next cycle: a window quicker than that
  // waits at most a period of the longest a server runs.
  constexpr auto kOutputCycle = std::chrono::milliseconds(25);
  const auto handover =
      armed->Confirm(key, FileName.toStdString(), start, rate, startNs, kOutputCycle);
  if (!handover) return;
  armedSeq_ = handover->seq;
  graph->ContinueFromHead(handover->clipNs, armed->HandoverClockNs(*handover));
}

void TPlayer::LoopAtEnd(bool loop, int scale, int start, int stop, int margin) {
  auto graph = std::dynamic_pointer_cast<engine::ILoopAhead>(FGraphBuilder);
  if (!graph) return;
  if (!loop) {
    graph->LoopAtEnd(std::nullopt);
    return;
  }
  RefreshDuration();
  graph->LoopAtEnd(std::pair{ToAbsolute(scale, start, margin, false),
                             ToAbsolute(scale, stop, margin, true)});
}

void TPlayer::SetArmedVolume(int scale, int page, int origin, int margin, int position) {
  auto armed = Armed();
  if (!armed) return;
  const int hi = scale - (margin + page);
  const int p = std::clamp(position - origin, margin, std::max(margin, hi));
  const int span = hi - margin;
  if (span <= 0) return;
  const int x = static_cast<int>(RoundEven(static_cast<long double>(p) * 10000 / span));
  const int volume = -VolumeCurve(x);
  armed->SetGain(volume <= -10000 ? 0.0f : static_cast<float>(std::pow(10.0, volume / 2000.0)));
}

void TPlayer::CueClips(const std::vector<ClipToCue>& clips) {
  if (auto cue = std::dynamic_pointer_cast<IClipCue>(FGraphBuilder)) cue->CueClips(clips);
}

void TPlayer::CueClips(const QStringList& fileNames) {
  std::vector<ClipToCue> clips;
  for (const QString& name : fileNames)
    if (!name.isEmpty()) clips.push_back({name.toStdString()});
  CueClips(clips);
}

void TPlayer::ChangeDevice() {
  if (RequestedDevice == DeviceIndex || FileName.isEmpty()) return;
  try {
    try {
      Guard(Use(FMediaControl, [](IMediaControl& c) { return c.Stop(); }));
      WaitForState(fsStopped);
    } catch (...) {
      Notify(platform::PN_STOPFAILED);
      throw;
    }
    const bool wasPlaying = State == fsPlaying;
    const std::int64_t position = (State == fsStopped && AutoRewind) ? 0 : GetPosition();
    // The device asked for becomes the one the reload inserts.
    DeviceIndex = RequestedDevice;
    try {
      LoadFile(true);
    } catch (...) {
      if (State != fsStopped) State = fsStopped;
      Notify(platform::PN_STOPPED);
      throw;
    }
    SetPosition(position);
    if (wasPlaying) {
      Guard(Use(FMediaControl, [](IMediaControl& c) { return c.Run(); }));
      WaitForState(fsPlaying);
      State = fsPlaying;
    } else {
      Guard(Use(FMediaControl, [](IMediaControl& c) { return c.Pause(); }));
      WaitForState(fsPaused);
    }
  } catch (...) {
    Notify(platform::PN_OPENFAILED);
    if (FAudioRenderer) CleanUpGraph();
    throw;
  }
}
