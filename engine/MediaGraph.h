#pragma once
// The media graph: a chain of source, decoder and renderer filters that plays
// one file. The interfaces mirror what the player needs of such a graph and
// answer with result codes (see MediaTypes.h), never with exceptions.
//
// Implementations: GstMediaGraph (GStreamer) and ScriptedMediaGraph (a
// deterministic fake for unit tests). All calls are made on the thread that
// created the graph (the window thread).

#include "engine/MediaTypes.h"
#include "engine/outputs/AudioOutputChoice.h"
#include "engine/outputs/SoundOutputList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QObject;
class QWidget;

namespace engine {

class ArmedStart;

class IPin {
 public:
  virtual ~IPin() = default;
  virtual HRESULT QueryDirection(PinDirection& direction) = 0;
  // The major type of the connection; VFW_E_NOT_CONNECTED when the pin is free.
  virtual HRESULT ConnectionMediaType(Guid& majorType) = 0;
  // The pin at the other end; VFW_E_NOT_CONNECTED (and pin reset) when free.
  virtual HRESULT ConnectedTo(std::shared_ptr<IPin>& pin) = 0;
};

class IBaseFilter {
 public:
  virtual ~IBaseFilter() = default;
  virtual HRESULT EnumPins(std::vector<std::shared_ptr<IPin>>& pins) = 0;
  virtual HRESULT QueryFilterInfo(std::string& name) = 0;
};

class IGraphBuilder {
 public:
  virtual ~IGraphBuilder() = default;
  // Builds the whole chain for a file (UTF-8 path) and returns once the graph
  // is cued on the first frame, or with a failure code.
  virtual HRESULT RenderFile(const std::string& fileName) = 0;
  // Adds a filter made by CreateFilter; a null name lets the graph choose one.
  virtual HRESULT AddFilter(const std::shared_ptr<IBaseFilter>& filter,
                            const std::string* name) = 0;
  virtual HRESULT RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) = 0;
  // The filters of the graph, renderers first, then the source.
  virtual HRESULT EnumFilters(std::vector<std::shared_ptr<IBaseFilter>>& filters) = 0;
  virtual HRESULT Connect(const std::shared_ptr<IPin>& output,
                          const std::shared_ptr<IPin>& input) = 0;
  // Creates a filter of this graph's kind by class identifier: the null
  // renderer or the renderer of an audio output device.
  virtual HRESULT CreateFilter(const Guid& classId, std::shared_ptr<IBaseFilter>& filter) = 0;
  // The underlying detail of the last failure (domain, code, debug text),
  // for logs and a details view; empty when there is none.
  virtual std::string LastErrorDetail() const = 0;
  // The last failure of a clip in the user's words, without a final full
  // stop ("the MP3 data is damaged at 0:12"); empty when not known.
  virtual std::string LastErrorReason() const { return {}; }
};

class IMediaControl {
 public:
  virtual ~IMediaControl() = default;
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Stop() = 0;
  // The state reached, or VFW_S_STATE_INTERMEDIATE with the state being left
  // when the change has not finished within timeoutMs.
  virtual HRESULT GetState(long timeoutMs, FilterState& state) = 0;
};

class IMediaSeeking {
 public:
  virtual ~IMediaSeeking() = default;
  virtual HRESULT GetDuration(REFERENCE_TIME& duration) = 0;
  virtual HRESULT GetCurrentPosition(REFERENCE_TIME& position) = 0;
  // Each position is applied when its flags are AM_SEEKING_AbsolutePositioning
  // and left unchanged when they are AM_SEEKING_NoPositioning.
  virtual HRESULT SetPositions(const REFERENCE_TIME* current, unsigned currentFlags,
                               const REFERENCE_TIME* stop, unsigned stopFlags) = 0;
  virtual HRESULT GetRate(double& rate) = 0;
  virtual HRESULT SetRate(double rate) = 0;
  virtual HRESULT IsFormatSupported(const Guid& format) = 0;
  virtual HRESULT IsUsingTimeFormat(const Guid& format) = 0;
  virtual HRESULT GetTimeFormat(Guid& format) = 0;
  virtual HRESULT SetTimeFormat(const Guid& format) = 0;
};

class IBasicAudio {
 public:
  virtual ~IBasicAudio() = default;
  // Hundredths of a decibel, 0 (full) to -10000 (silence). E_NOTIMPL when
  // the clip has no sound.
  virtual HRESULT get_Volume(long& volume) = 0;
  virtual HRESULT put_Volume(long volume) = 0;
};

class IVideoWindow {
 public:
  virtual ~IVideoWindow() = default;
  // Returns exactly S_OK only when the clip has a picture and it now draws
  // inside owner; E_NOINTERFACE without a video renderer. Null detaches.
  virtual HRESULT put_Owner(QWidget* owner) = 0;
  virtual HRESULT get_Owner(QWidget*& owner) = 0;
  virtual HRESULT put_WindowStyle(long style) = 0;
  virtual HRESULT put_Visible(long visible) = 0;
  // Mouse and keyboard input over the picture goes to drain.
  virtual HRESULT put_MessageDrain(QObject* drain) = 0;
  virtual HRESULT put_FullScreenMode(long mode) = 0;
  virtual HRESULT SetWindowPosition(long left, long top, long width, long height) = 0;
  virtual HRESULT GetWindowPosition(long& left, long& top, long& width, long& height) = 0;
};

class IBasicVideo {
 public:
  virtual ~IBasicVideo() = default;
  virtual HRESULT GetVideoSize(long& width, long& height) = 0;
  virtual HRESULT SetSourcePosition(long left, long top, long width, long height) = 0;
};

class IMediaEventEx {
 public:
  virtual ~IMediaEventEx() = default;
  // Whenever an event is queued, message msg with LParam instance is posted
  // to window.
  virtual HRESULT SetNotifyWindow(QObject* window, int msg, std::intptr_t instance) = 0;
  // 0 turns notifications on, 1 off.
  virtual HRESULT SetNotifyFlags(long flags) = 0;
  // E_ABORT when the queue is empty.
  virtual HRESULT GetEvent(long& code, std::intptr_t& param1, std::intptr_t& param2,
                           long timeoutMs) = 0;
  virtual HRESULT FreeEventParams(long code, std::intptr_t param1, std::intptr_t param2) = 0;
};

class IAudioOutput {
 public:
  virtual ~IAudioOutput() = default;
  // The name a sound server shows for the graph's default output (the JACK
  // client's name, PulseAudio's client). It applies when the output is
  // opened, at the first clip; a later change reopens it at the next clip.
  virtual HRESULT SetOutputName(const std::string& name) = 0;
  // The output chosen for the window, by key (SoundOutputList.h; "" for the
  // default), tried at the next clip, or at once by OpenOutput. A chosen
  // output that is missing gives way to the default one until it is back.
  virtual void SetOutputDevice(const std::string& key, const std::string& label) {
    (void)key, (void)label;
  }
  // Opens the output now, before any clip, so that its ports can be patched
  // while nothing plays.
  virtual void OpenOutput() {}
  // What a JACK output's ports are connected to ("out_1>system:playback_1"),
  // remembered across restarts of the window and of the ports it feeds.
  virtual void SetOutputConnections(const std::vector<std::string>& links) { (void)links; }
  virtual std::vector<std::string> OutputConnections() const { return {}; }
  // "" or a change of the window's output to tell its user, once.
  virtual std::string TakeOutputNotice() { return {}; }
};

// Clips the window may play next. A graph that can opens them ahead, in the
// background, so that their first press starts at once; what it does is
// never seen otherwise (a clip that can't be opened ahead opens as usual).
struct ClipToCue {
  std::string FileName;  // UTF-8
  // The key's marks, in 10000ths of the clip's length: it is cued at its
  // start mark, for its segment.
  int StartMark = 0;
  int StopMark = 10000;
};
class IClipCue {
 public:
  virtual ~IClipCue() = default;
  // The clips of the window's keys, the most likely first; replaces the
  // list given before.
  virtual void CueClips(const std::vector<ClipToCue>& clips) = 0;
};

// A key's start armed on the graph's output (cue/ArmedStart.h): the
// window publishes what its keys do there, and a start that the output
// began from a clip's head goes on in the graph.
class IArmedStart {
 public:
  virtual ~IArmedStart() = default;
  virtual std::shared_ptr<ArmedStart> Armed() = 0;
  // The next Run starts the clip at `clipNs`, unramped, on base time
  // `baseNs` (ns of the shared clock): it goes on from the head heard.
  virtual void ContinueFromHead(std::int64_t clipNs, std::uint64_t baseNs) = 0;
};

// The window's answer to its clip's next end, given ahead: a loop from
// `start` to `stop` (media time; a stop past the end plays to the end), or
// none. With a loop the graph loops by itself at each end, on time however
// busy the window is, and queues EC_LOOPED instead of EC_COMPLETE; without
// one the window is told of the end and answers then.
class ILoopAhead {
 public:
  virtual ~ILoopAhead() = default;
  virtual void LoopAtEnd(std::optional<std::pair<REFERENCE_TIME, REFERENCE_TIME>> loop) = 0;
};

// One graph offers every interface; the player queries each with
// std::dynamic_pointer_cast, so a fake may leave some out.
class MediaGraph : public IGraphBuilder,
                   public IMediaControl,
                   public IMediaSeeking,
                   public IBasicAudio,
                   public IVideoWindow,
                   public IBasicVideo,
                   public IMediaEventEx,
                   public IAudioOutput {
 public:
  ~MediaGraph() override = default;
};

// The only time format the graphs use: 100 ns units.
extern const Guid kTimeFormatMediaTime;
// The null renderer's class identifier.
extern const Guid kClassNullRenderer;
// Major types of a connection.
extern const Guid kMediaTypeAudio;
extern const Guid kMediaTypeVideo;

// Creates an empty graph: a GstMediaGraph unless a test installed a factory.
std::shared_ptr<MediaGraph> CreateFilterGraph();
void SetFilterGraphFactory(std::function<std::shared_ptr<MediaGraph>()> factory);

// One audio output of the machine as the device enumeration reports it.
struct AudioDeviceMoniker {
  bool Bindable = true;                     // its properties can be read
  std::optional<std::string> ClassId;       // "{...}", creates its renderer
  std::optional<std::string> FriendlyName;  // shown to the user
};

// The audio outputs of the machine in a stable order (empty when none).
std::vector<AudioDeviceMoniker> EnumerateAudioRenderers();

// The outputs a window can choose from, read now: every JACK server,
// PulseAudio/PipeWire sink and ALSA device present.
std::vector<SoundOutput> ListSoundOutputs();

// Whether the machine's sound output works, as the graphs find it at each
// clip: lost when it fails or can't be opened (a sound server that went
// away), back when a clip opens it again. Each change is told once.
enum class OutputChange { None, Lost, Back };
void ReportOutputLost(const std::string& detail);
void ReportOutputWorking();
// How many times an output was found working so far (ReportOutputWorking).
std::uint64_t OutputsFoundWorking();
// The change since the last call, with the failure's detail when lost.
OutputChange TakeOutputChange(std::string& detail);

// The application-wide output level that every graph's sound passes
// through: two 16-bit channel levels (low and high half). Device 0 only;
// other devices answer 2 (bad device id). Returns 0 on success.
unsigned WaveOutGetVolume(unsigned device, std::uint32_t& volume);
unsigned WaveOutSetVolume(unsigned device, std::uint32_t volume);

}  // namespace engine
