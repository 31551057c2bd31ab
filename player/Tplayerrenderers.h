#pragma once
// Audio output devices and the helpers that find, check and replace the
// renderer filters of a graph.

#include "engine/MediaGraph.h"
#include "player/Tplayererrors.h"

#include <QStringList>

#include <memory>
#include <string>
#include <vector>

using engine::IAudioOutput;
using engine::IBaseFilter;
using engine::IBasicAudio;
using engine::IBasicVideo;
using engine::IGraphBuilder;
using engine::IMediaControl;
using engine::IMediaEventEx;
using engine::IMediaSeeking;
using engine::IVideoWindow;

// The audio outputs, built once at start-up: friendly names (or the
// identifier when a device has none) and identifiers, entry i of each
// describing the same device. Read on the window thread only.
extern QStringList TPlayerDeviceList;
extern QStringList TPlayerDeviceGUIDList;

// Lists the machine's audio outputs into the two lists, once per process.
// The player's constructor calls it too, so it can never be missed.
void InitializePlayerDevices();
// Fills the lists from an enumeration: a device whose properties cannot be
// read ends the list, one without identifier is left out, one without a
// friendly name is listed under its identifier.
void BuildPlayerDeviceLists(const std::vector<engine::AudioDeviceMoniker>& devices);

// What to tell the user about the sound output in use: empty when it is a
// real device or the one $TASTIVO_AUDIO_SINK asked for (the silent sink
// included), else one paragraph naming what was tried and what plays now.
QString AudioOutputWarning(const engine::AudioOutputChoice& choice);
// AudioOutputWarning for this process's output, the first time it is called;
// empty on every later call. The window calls it when a clip is first played.
QString TakeAudioOutputWarning();
// What changed about the sound output since the last call, once per change:
// that it was lost (its sound server went away) or that it is back; empty
// when nothing changed. Meant to be asked after each clip is played.
QString TakeAudioOutputChange();

void AssignGraphBuilder(std::shared_ptr<IGraphBuilder>& graph);
// Queries interface I from the graph; out stays null when the graph lacks it
// (SCheck lets E_NOINTERFACE pass).
template <typename I>
void AssignInterface(const std::shared_ptr<IGraphBuilder>& graph, std::shared_ptr<I>& out) {
  out = std::dynamic_pointer_cast<I>(graph);
  SCheck(out ? engine::S_OK : engine::E_NOINTERFACE);
}
inline constexpr auto AssignMediaControl = AssignInterface<IMediaControl>;
inline constexpr auto AssignMediaSeeking = AssignInterface<IMediaSeeking>;
inline constexpr auto AssignBasicAudio = AssignInterface<IBasicAudio>;
inline constexpr auto AssignVideoWindow = AssignInterface<IVideoWindow>;
inline constexpr auto AssignBasicVideo = AssignInterface<IBasicVideo>;

// Creates the renderer of device index and adds it to the graph.
void AddAudioRenderer(const std::shared_ptr<IGraphBuilder>& graph,
                      std::shared_ptr<IBaseFilter>& filter, int index);
// The graph's audio (video) renderer; renderers of the other type are
// replaced by null renderers on the way. filter is written only when found.
void GetAudioRenderer(const std::shared_ptr<IGraphBuilder>& graph,
                      std::shared_ptr<IBaseFilter>& filter);
void GetVideoRenderer(const std::shared_ptr<IGraphBuilder>& graph,
                      std::shared_ptr<IBaseFilter>& filter);
// Name of the first filter the graph lists; a single NUL character when the
// graph is empty or cannot answer.
std::string GetFirstAudioRendererName(const std::shared_ptr<IGraphBuilder>& graph);
bool IsFilterConnected(const std::shared_ptr<IBaseFilter>& filter);
// True when filter renders audio (audio) or video (!audio); a renderer of
// the other type is replaced by a null renderer fed from the same output.
bool CheckFilter(const std::shared_ptr<IGraphBuilder>& graph,
                 const std::shared_ptr<IBaseFilter>& filter, bool audio);

// Makes null renderers. Filters belong to the graph that made them, so the
// graph is named.
class CoNullRenderer {
 public:
  static std::shared_ptr<IBaseFilter> Create(const std::shared_ptr<IGraphBuilder>& graph);
  // Only this machine can be served; any other name raises.
  static std::shared_ptr<IBaseFilter> CreateRemote(const std::shared_ptr<IGraphBuilder>& graph,
                                                   const std::string& machineName);
};
