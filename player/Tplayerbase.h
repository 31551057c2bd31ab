#pragma once
// TPlayer: plays one media file at a time through a media graph it keeps
// for its whole life, and reports to its notify window with WM_PLAYERNOTIFY
// notices sent synchronously. Failures raise EPlayerError with fixed texts.
//
// Everything runs on the window thread that created the player.

#include "engine/MediaGraph.h"
#include "player/Tplayererrors.h"
#include "player/Tplayerfilters.h"
#include "player/Tplayerrenderers.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QObject;
class QWidget;

enum TPlayer_State : std::uint8_t { fsStopped = 0, fsPaused = 1, fsPlaying = 2, fsOpened = 3 };

namespace engine {
class GroupStart;
}

class TPlayer;
using TOnOpened = std::function<void(TPlayer* Sender)>;
using TOnCleanUp = std::function<void(TPlayer* Sender)>;

// Time formats of the graph.
inline constexpr Guid TIME_FORMAT_NONE{0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr Guid TIME_FORMAT_FRAME{
    0x7B785570, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}};
inline constexpr Guid TIME_FORMAT_BYTE{
    0x7B785571, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}};
inline constexpr Guid TIME_FORMAT_SAMPLE{
    0x7B785572, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}};
inline constexpr Guid TIME_FORMAT_FIELD{
    0x7B785573, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}};
inline constexpr Guid TIME_FORMAT_MEDIA_TIME{
    0x7B785574, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}};

// Attenuation in hundredths of a decibel for an even slider travel 0..10000.
int VolumeCurve(int x);
// An input of VolumeCurve whose output lies within 5 of target, by halving.
int InverseVolumeCurve(int target, float width, float low);

class TPlayer {
 public:
  // How long WaitForState waits for the graph. The window thread must never
  // stall a performance: a graph still on its way to the state (cueing
  // after a seek on a slow disk, say) is trusted to get there and reports
  // a failure as a media event; one that settled elsewhere raises.
  static constexpr std::chrono::milliseconds kStateTimeout{200};
  // The text raised when the graph does not reach a state in time.
  static constexpr const char* kStateTimeoutText =
      "The media player did not respond in time; the clip was stopped.";

  // The text raised when a clip gives nothing to play in time (a damaged
  // file a decoder stalls on, a file that can't be read).
  static constexpr const char* kOpenTimeoutText =
      "The clip could not be read in time and was not opened.";
  // The text raised when a clip takes longer to open than a key press may
  // wait; it goes on loading, and its key plays it once it is ready.
  static constexpr const char* kOpenPendingText =
      "The clip is still loading. Press its key again in a moment.";

  // Players that play while a GroupStart is open begin together, on one
  // sample of the output, when it starts: the windows of a group each open,
  // seek and play in turn, and are heard as one. Without `together` (a
  // window alone in its group) each player starts as soon as it can.
  // Window thread only.
  class GroupStart {
   public:
    explicit GroupStart(bool together);
    // Starts, unless Start did.
    ~GroupStart();
    GroupStart(const GroupStart&) = delete;
    GroupStart& operator=(const GroupStart&) = delete;
    // The sound of every player held begins here.
    void Start();
    // ... or at `onsetNs` of the shared clock, a time agreed with other
    // machines (with `together` only).
    void StartAt(std::uint64_t onsetNs);

   private:
    std::unique_ptr<engine::GroupStart> start_;
  };

  TPlayer(QObject* ownerWindow, int messageOffset);
  // With a graph of the caller's (a scripted one in tests).
  TPlayer(QObject* ownerWindow, int messageOffset, std::shared_ptr<engine::MediaGraph> graph);
  TPlayer(const TPlayer&) = delete;
  TPlayer& operator=(const TPlayer&) = delete;
  virtual ~TPlayer();

  QObject* NotifyWindow;
  QWidget* VideoOwner = nullptr;
  bool VideoPresent = false;
  QString FileName;
  std::int64_t Duration = 0;
  TPlayer_State State = fsStopped;
  int DeviceIndex = 0;
  int RequestedDevice = -1;
  bool AutoPlay = false;
  bool AutoRewind = false;
  bool UseAudioDevice = false;
  bool UseGraphVolume = true;
  bool VideoOnly = false;
  int MessageOffset;
  TOnOpened OnOpened;
  TOnCleanUp OnCleanUp;

  void Handle(QObject* window);
  void HandleVideo(QWidget* window);
  bool IsVideo() const { return VideoPresent; }
  void FullScreen(int mode);
  virtual void ResizeVideo(int left, int top, int width, int height);
  virtual void ResizeDestinationVideo(int left, int top, int width, int height);
  void GetWindowPosition(int& left, int& top, int& width, int& height);
  void GetVideoSize(int& width, int& height);

  void CleanUpGraph();
  void LoadFile(bool keepPosition);
  void LoadFileDuration(bool unused);
  void Open(const QString& fileName);
  void Close();
  void Play();
  void Pause();
  void Stop();
  void StopFMC();
  void Rewind();
  void WaitForState(TPlayer_State state);
  int GetMediaEvent();
  std::int64_t GetPosition();
  void SetPosition(std::int64_t position);

  // `position`, when given, gets the absolute position read on the way
  // (none when the length is not known), so a caller needing both reads
  // the graph once.
  std::int64_t GetRelativePosition(int scale, int margin,
                                   std::optional<std::int64_t>* position = nullptr);
  void SetRelativePosition(int scale, int position, int margin);
  void SetRelativePositions(int scale, int start, int stop, int margin);
  void SetRelativeStop(int scale, int stop, int margin);
  double GetRate();
  void SetRate(double rate);
  bool IsTimeFormatSupported(const Guid& format);
  bool IsUsingTimeFormat(const Guid& format);
  Guid GetTimeFormat();
  void SetTimeFormat(const Guid& format);
  bool CompareCurTimeFormat(const Guid* format);
  int GetVolume();
  void SetVolume(int volume);
  void SetDeviceVolume(int volume);
  void SetWaveOutVolume(int volume);
  int GetRelativeVolume(int scale, int page, int margin);
  int SetRelativeVolume(int scale, int page, int origin, int margin, int position);
  void ChangeDevice();

  // Names this player's sound output where the sound server shows it: the
  // JACK client of a keyboard window ("Tastivo", "Tastivo 1", ...). Call it
  // before the first clip; a later change applies from the next Open. An
  // empty name keeps the default. Never raises.
  void SetOutputName(const QString& name);
  // The sound output chosen for this player (engine::SoundOutput's key, ""
  // for the default) and what the user calls it; it opens at once, so its
  // ports can be patched before any clip. Never raises.
  void SetOutputDevice(const QString& key, const QString& label);
  // What its JACK ports are connected to, by port name: given at start,
  // read back to be stored. Never raises.
  void SetOutputConnections(const QStringList& links);
  QStringList OutputConnections() const;
  // "" or a change of this player's output to tell the user, once.
  QString TakeOutputNotice();

  // The clips this player's window may play next, the most likely first:
  // the graph opens them ahead so their first press starts at once. Nothing
  // else changes (Open opens and tells as always). Never raises.
  void CueClips(const std::vector<engine::ClipToCue>& clips);
  // Whole clips.
  void CueClips(const QStringList& fileNames);

  // Where the window publishes what its keys do, for a note to start a
  // key's clip on the output before the window has played it
  // (engine/cue/ArmedStart.h); null when the graph offers none.
  std::shared_ptr<engine::ArmedStart> Armed() const;
  // Before Play, after the clip was opened and its marks set: when the
  // output already sounds the head of key `key`'s clip from start mark
  // `start` (of `scale`), Play goes on from it; otherwise whatever was
  // armed is withdrawn and Play starts the clip as usual. A Stop silences
  // a head still sounding. Never raises.
  void ContinueArmed(int key, int scale, int start);
  // The window's answer to the open clip's next end, given ahead: `loop`,
  // from start mark `start` to stop mark `stop` (of `scale`, as for
  // SetRelativePositions). A loop is then made by the graph at each end,
  // on time however busy the window is, and told as event EC_LOOPED, which
  // needs no answer. Given again whenever the answer would change, and
  // after each Open. Never raises.
  void LoopAtEnd(bool loop, int scale, int start, int stop, int margin);
  // The level a head starts at: the one SetRelativeVolume with the same
  // arguments gives a clip. Never raises.
  void SetArmedVolume(int scale, int page, int origin, int margin, int position);

 private:
  void Construct(std::shared_ptr<engine::MediaGraph> graph);
  void Notify(int code);
  bool UsesWaveVolume() const;
  // A relative mark as a position; on a clip whose length is not known
  // yet a start maps to 0 and a stop to the end of the clip.
  std::int64_t ToAbsolute(int scale, int value, int margin, bool stop) const;
  // Reads the length again while the graph is still learning it.
  void RefreshDuration();
  void RenderCurrentFile();
  void RenderAndReadDuration();
  // Stop and StopFMC: cue leaves the graph paused at its position.
  void StopGraph(bool cue);
  int Guard(int result);
  // A failure of the clip FileName: text, then the file and what the graph
  // says went wrong.
  EPlayerError ClipError(const std::string& text) const;

  std::shared_ptr<IGraphBuilder> FGraphBuilder;
  // The armed start Play went on from last, for Stop to silence.
  std::uint64_t armedSeq_ = 0;
  std::shared_ptr<IMediaControl> FMediaControl;
  std::shared_ptr<IMediaSeeking> FMediaSeeking;
  std::shared_ptr<IBasicAudio> FBasicAudio;
  std::shared_ptr<IMediaEventEx> FMediaEventEx;
  std::shared_ptr<IVideoWindow> FVideoWindow;
  std::shared_ptr<IBasicVideo> FBasicVideo;
  std::shared_ptr<IBaseFilter> FAudioRenderer;
  long requestedVolume_ = 0;
  // The clip's length was unknown when it was loaded (a bare MP3 stream,
  // say), so Duration follows what the graph learns while it plays.
  bool DurationFollowsGraph_ = false;
};
