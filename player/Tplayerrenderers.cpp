#include "player/Tplayerrenderers.h"

#include "player/Tplayererrors.h"
#include "player/Tplayerfilters.h"

#include <QSysInfo>

#include <atomic>
#include <mutex>

using namespace engine;

QStringList TPlayerDeviceList;
QStringList TPlayerDeviceGUIDList;

void BuildPlayerDeviceLists(const std::vector<AudioDeviceMoniker>& devices) {
  TPlayerDeviceList.clear();
  TPlayerDeviceGUIDList.clear();
  for (const auto& d : devices) {
    if (!d.Bindable) break;
    if (!d.ClassId) continue;
    const QString id = QString::fromStdString(*d.ClassId);
    TPlayerDeviceGUIDList.append(id);
    TPlayerDeviceList.append(d.FriendlyName ? QString::fromStdString(*d.FriendlyName) : id);
  }
}

void InitializePlayerDevices() {
  static std::once_flag once;
  std::call_once(once, [] { BuildPlayerDeviceLists(EnumerateAudioRenderers()); });
}

namespace {

QString OutputLabel(const std::string& sink) {
  if (sink == "jackaudiosink") return "JACK";
  if (sink == "pulsesink") return "PulseAudio";
  if (sink == "alsasink") return "ALSA";
  return QString::fromStdString(sink);
}

}  // namespace

QString AudioOutputWarning(const AudioOutputChoice& choice) {
  if (choice.UsesRequested) return {};
  QStringList tried;
  for (const auto& sink : choice.Failed) tried << OutputLabel(sink);
  const QString hint =
      "To choose an output, set TASTIVO_AUDIO_SINK to a GStreamer sink name (for example "
      "pulsesink or alsasink) before starting Tastivo.";
  if (!choice.Real)
    return QString(
               "No sound output could be opened (tried %1); clips play silently. Start a "
               "JACK server or PulseAudio (or PipeWire), or check that an ALSA sound card "
               "is free, then restart Tastivo. %2")
        .arg(tried.join(", "), hint);
  if (!choice.Requested.empty())
    return QString(
               "The sound output \"%1\" named in TASTIVO_AUDIO_SINK could not be opened; "
               "clips play through %2 instead. %3")
        .arg(QString::fromStdString(choice.Requested), OutputLabel(choice.Sink), hint);
  return {};
}

QString TakeAudioOutputWarning() {
  static std::atomic<bool> taken{false};
  if (taken.exchange(true)) return {};
  return AudioOutputWarning(DefaultAudioOutput());
}

QString TakeAudioOutputChange() {
  std::string detail;
  switch (TakeOutputChange(detail)) {
    case OutputChange::Lost:
      return QString(
                 "The sound output was lost (%1). Clips play silently until it is back; "
                 "Tastivo tries it again at every clip.")
          .arg(QString::fromStdString(detail));
    case OutputChange::Back:
      return "The sound output is back.";
    case OutputChange::None:
      break;
  }
  return {};
}

void AssignGraphBuilder(std::shared_ptr<IGraphBuilder>& graph) {
  graph = CreateFilterGraph();
  SCheck(graph ? S_OK : E_OUTOFMEMORY);
}

void AddAudioRenderer(const std::shared_ptr<IGraphBuilder>& graph,
                      std::shared_ptr<IBaseFilter>& filter, int index) {
  if (index < 0 || index >= TPlayerDeviceGUIDList.size())
    throw EPlayerError(_ERSTR_NOT_VALID_AUDIO_DEVICE);
  filter.reset();
  const auto classId = Guid::Parse(TPlayerDeviceGUIDList[index].toStdString());
  SCheck(classId ? S_OK : E_INVALIDARG);
  SCheck(graph->CreateFilter(*classId, filter), graph->LastErrorDetail());
  try {
    // The name goes through a buffer of 255 characters, terminator included.
    const std::string name = TPlayerDeviceList[index].left(254).toStdString();
    SCheck(graph->AddFilter(filter, &name));
  } catch (const EPlayerError&) {
    filter.reset();
    throw EPlayerError(_ERSTR_ADD_FILTER_FAILED);
  }
}

bool CheckFilter(const std::shared_ptr<IGraphBuilder>& graph,
                 const std::shared_ptr<IBaseFilter>& filter, bool audio) {
  std::vector<std::shared_ptr<IPin>> pins;
  SCheck(filter->EnumPins(pins));
  int inputs = 0, outputs = 0;
  std::shared_ptr<IPin> input;
  for (auto& pin : pins) {
    PinDirection direction;
    SCheck(pin->QueryDirection(direction));
    if (direction == PinDirection::PINDIR_INPUT) {
      ++inputs;
      input = pin;
    } else {
      ++outputs;
    }
  }
  if (outputs != 0 || inputs != 1) return false;
  Guid major;
  if (input->ConnectionMediaType(major) != S_OK) return false;
  const bool result = major == (audio ? MEDIATYPE_Audio : MEDIATYPE_Video);
  if (!result) {
    std::shared_ptr<IBaseFilter> null;
    SCheck(graph->CreateFilter(CLSID_NullRenderer, null));
    SCheck(graph->AddFilter(null, nullptr));
    std::shared_ptr<IPin> output;
    SCheck(input->ConnectedTo(output));
    SCheck(graph->RemoveFilter(filter));
    std::vector<std::shared_ptr<IPin>> nullPins;
    SCheck(null->EnumPins(nullPins));
    SCheck(nullPins.empty() ? E_UNEXPECTED : S_OK);
    SCheck(graph->Connect(output, nullPins.front()), graph->LastErrorDetail());
  }
  return result;
}

namespace {
void FindRenderer(const std::shared_ptr<IGraphBuilder>& graph, std::shared_ptr<IBaseFilter>& filter,
                  bool audio) {
  std::vector<std::shared_ptr<IBaseFilter>> filters;
  SCheck(graph->EnumFilters(filters));
  for (auto& f : filters)
    if (CheckFilter(graph, f, audio)) filter = f;
}
}  // namespace

void GetAudioRenderer(const std::shared_ptr<IGraphBuilder>& graph,
                      std::shared_ptr<IBaseFilter>& filter) {
  FindRenderer(graph, filter, true);
}

void GetVideoRenderer(const std::shared_ptr<IGraphBuilder>& graph,
                      std::shared_ptr<IBaseFilter>& filter) {
  FindRenderer(graph, filter, false);
}

std::string GetFirstAudioRendererName(const std::shared_ptr<IGraphBuilder>& graph) {
  try {
    std::vector<std::shared_ptr<IBaseFilter>> filters;
    SCheck(graph->EnumFilters(filters));
    if (filters.empty()) return std::string(1, '\0');
    std::string name;
    SCheck(filters.front()->QueryFilterInfo(name));
    return name.substr(0, 127);
  } catch (...) {
    return std::string(1, '\0');
  }
}

bool IsFilterConnected(const std::shared_ptr<IBaseFilter>& filter) {
  std::vector<std::shared_ptr<IPin>> pins;
  SCheck(filter->EnumPins(pins));
  for (auto& pin : pins) {
    std::shared_ptr<IPin> partner;
    if (pin->ConnectedTo(partner) == S_OK && partner) return true;
  }
  return false;
}

std::shared_ptr<IBaseFilter> CoNullRenderer::Create(const std::shared_ptr<IGraphBuilder>& graph) {
  std::shared_ptr<IBaseFilter> filter;
  SCheck(graph->CreateFilter(CLSID_NullRenderer, filter));
  return filter;
}

std::shared_ptr<IBaseFilter> CoNullRenderer::CreateRemote(
    const std::shared_ptr<IGraphBuilder>& graph, const std::string& machineName) {
  const QString name = QString::fromStdString(machineName);
  if (!name.isEmpty() && name.compare("localhost", Qt::CaseInsensitive) != 0 &&
      name.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0)
    SCheck(REGDB_E_CLASSNOTREG, "renderers can only be made on this machine");
  return Create(graph);
}
