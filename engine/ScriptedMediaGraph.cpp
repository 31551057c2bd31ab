#include "engine/ScriptedMediaGraph.h"

#include "platform/WindowMessages.h"

#include <algorithm>

namespace engine {

namespace {
enum Role { kSource, kAudio, kVideo, kNull };
}

class ScriptedFilter;

class ScriptedPin : public IPin, public std::enable_shared_from_this<ScriptedPin> {
 public:
  ScriptedPin(ScriptedFilter* owner, PinDirection direction, Guid major)
      : owner(owner), direction(direction), major(major) {}
  HRESULT QueryDirection(PinDirection& d) override {
    d = direction;
    return S_OK;
  }
  HRESULT ConnectionMediaType(Guid& m) override {
    if (peer.expired()) return VFW_E_NOT_CONNECTED;
    m = major;
    return S_OK;
  }
  HRESULT ConnectedTo(std::shared_ptr<IPin>& pin) override {
    pin = peer.lock();
    return pin ? S_OK : VFW_E_NOT_CONNECTED;
  }
  ScriptedFilter* owner;
  PinDirection direction;
  Guid major;
  std::weak_ptr<ScriptedPin> peer;
};

class ScriptedFilter : public IBaseFilter {
 public:
  ScriptedFilter(int role, std::string name) : role(role), name(std::move(name)) {}
  HRESULT EnumPins(std::vector<std::shared_ptr<IPin>>& out) override {
    out.assign(pins.begin(), pins.end());
    return S_OK;
  }
  HRESULT QueryFilterInfo(std::string& out) override {
    out = name;
    return S_OK;
  }
  std::shared_ptr<ScriptedPin> AddPin(PinDirection d, Guid major) {
    pins.push_back(std::make_shared<ScriptedPin>(this, d, major));
    return pins.back();
  }
  bool InputConnected() const {
    for (auto& p : pins)
      if (p->direction == PinDirection::PINDIR_INPUT && !p->peer.expired()) return true;
    return false;
  }
  int role;
  std::string name;
  std::vector<std::shared_ptr<ScriptedPin>> pins;
};

namespace {
void Link(const std::shared_ptr<ScriptedPin>& out, const std::shared_ptr<ScriptedPin>& in) {
  out->peer = in;
  in->peer = out;
  in->major = out->major;
}
}  // namespace

ScriptedMediaGraph::ScriptedMediaGraph() = default;
ScriptedMediaGraph::~ScriptedMediaGraph() = default;

void ScriptedMediaGraph::AddClip(const std::string& path, ScriptedClip clip) {
  clips_[path] = std::move(clip);
}
void ScriptedMediaGraph::SetResult(const std::string& call, HRESULT hr) {
  results_[call] = hr;
}
void ScriptedMediaGraph::ClearResult(const std::string& call) {
  results_.erase(call);
}
void ScriptedMediaGraph::AddDeviceClass(const Guid& classId) {
  deviceClasses_.push_back(classId);
}

void ScriptedMediaGraph::QueueEvent(long code, std::intptr_t param1, std::intptr_t param2) {
  events_.push_back({code, param1, param2});
  if (notifyFlags_ == 0 && notifyWindow_)
    platform::PostMessage(notifyWindow_, notifyMsg_, 0, notifyParam_);
}

std::vector<std::string> ScriptedMediaGraph::FilterNames() {
  std::vector<std::string> names;
  for (auto& f : filters_) names.push_back(f->name);
  return names;
}

std::optional<HRESULT> ScriptedMediaGraph::Call(const std::string& name, const std::string& args) {
  calls_.push_back(args.empty() ? name : name + " " + args);
  if (auto it = results_.find(name); it != results_.end()) return it->second;
  return std::nullopt;
}

std::shared_ptr<ScriptedFilter> ScriptedMediaGraph::Connected(int role) const {
  for (auto& f : filters_)
    if (f->role == role && f->InputConnected()) return f;
  return nullptr;
}

HRESULT ScriptedMediaGraph::RenderFile(const std::string& fileName) {
  if (auto r = Call("RenderFile", fileName)) return *r;
  auto it = clips_.find(fileName);
  if (it == clips_.end()) return E_FILE_NOT_FOUND;
  if (Failed(it->second.RenderResult)) return it->second.RenderResult;
  clip_ = it->second;
  auto source = std::make_shared<ScriptedFilter>(kSource, fileName);
  std::vector<std::shared_ptr<ScriptedFilter>> added{source};
  if (clip_.HasAudio) {
    auto out = source->AddPin(PinDirection::PINDIR_OUTPUT, kMediaTypeAudio);
    std::shared_ptr<ScriptedFilter> renderer;
    for (auto& f : filters_)
      if (f->role == kAudio && !f->InputConnected()) renderer = f;
    if (!renderer) {
      renderer = std::make_shared<ScriptedFilter>(kAudio, clip_.AudioRendererName);
      renderer->AddPin(PinDirection::PINDIR_INPUT, Guid{});
      added.push_back(renderer);
    }
    Link(out, renderer->pins.front());
  }
  if (clip_.HasVideo) {
    auto out = source->AddPin(PinDirection::PINDIR_OUTPUT, kMediaTypeVideo);
    auto renderer = std::make_shared<ScriptedFilter>(kVideo, "Video Renderer");
    Link(out, renderer->AddPin(PinDirection::PINDIR_INPUT, Guid{}));
    added.push_back(renderer);
  }
  // Renderers first, newest first, then the source, as the enumeration
  // of a graph reports them.
  for (auto& f : added)
    if (f != source) filters_.insert(filters_.begin(), f);
  filters_.push_back(source);
  loaded_ = true;
  current_ = 0;
  stop_ = clip_.Duration;
  rate_ = 1.0;
  volume_ = 0;
  left_ = top_ = 0;
  width_ = clip_.VideoWidth;
  height_ = clip_.VideoHeight;
  return it->second.RenderResult;
}

HRESULT ScriptedMediaGraph::AddFilter(const std::shared_ptr<IBaseFilter>& filter,
                                      const std::string* name) {
  if (auto r = Call("AddFilter", name ? *name : std::string("-"))) return *r;
  auto f = std::dynamic_pointer_cast<ScriptedFilter>(filter);
  if (!f) return E_INVALIDARG;
  if (name) f->name = *name;
  filters_.insert(filters_.begin(), f);
  return S_OK;
}

HRESULT ScriptedMediaGraph::RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) {
  auto f = std::dynamic_pointer_cast<ScriptedFilter>(filter);
  if (auto r = Call("RemoveFilter", f ? f->name : std::string("?"))) return *r;
  auto it = std::find(filters_.begin(), filters_.end(), f);
  if (it == filters_.end()) return E_INVALIDARG;
  for (auto& p : f->pins) {
    if (auto peer = p->peer.lock()) peer->peer.reset();
    p->peer.reset();
  }
  if (f->role == kSource) loaded_ = false;
  filters_.erase(it);
  return S_OK;
}

HRESULT ScriptedMediaGraph::EnumFilters(std::vector<std::shared_ptr<IBaseFilter>>& filters) {
  if (auto r = Call("EnumFilters")) return *r;
  filters.assign(filters_.begin(), filters_.end());
  return S_OK;
}

HRESULT ScriptedMediaGraph::Connect(const std::shared_ptr<IPin>& output,
                                    const std::shared_ptr<IPin>& input) {
  if (auto r = Call("Connect")) return *r;
  auto out = std::dynamic_pointer_cast<ScriptedPin>(output);
  auto in = std::dynamic_pointer_cast<ScriptedPin>(input);
  if (!out || !in) return E_INVALIDARG;
  Link(out, in);
  return S_OK;
}

HRESULT ScriptedMediaGraph::CreateFilter(const Guid& classId,
                                         std::shared_ptr<IBaseFilter>& filter) {
  if (auto r = Call("CreateFilter", classId.ToString())) return *r;
  std::shared_ptr<ScriptedFilter> f;
  if (classId == kClassNullRenderer) {
    f = std::make_shared<ScriptedFilter>(kNull, "Null Renderer");
  } else if (std::find(deviceClasses_.begin(), deviceClasses_.end(), classId) !=
             deviceClasses_.end()) {
    f = std::make_shared<ScriptedFilter>(kAudio, "Audio Renderer");
  } else {
    return REGDB_E_CLASSNOTREG;
  }
  f->AddPin(PinDirection::PINDIR_INPUT, Guid{});
  filter = f;
  return S_OK;
}

HRESULT ScriptedMediaGraph::Run() {
  if (auto r = Call("Run")) return *r;
  target_ = FilterState::State_Running;
  return S_OK;
}
HRESULT ScriptedMediaGraph::Pause() {
  if (auto r = Call("Pause")) return *r;
  target_ = FilterState::State_Paused;
  return S_OK;
}
HRESULT ScriptedMediaGraph::Stop() {
  if (auto r = Call("Stop")) return *r;
  target_ = FilterState::State_Stopped;
  return S_OK;
}
HRESULT ScriptedMediaGraph::GetState(long, FilterState& state) {
  // Not logged: the player polls it.
  if (auto it = results_.find("GetState"); it != results_.end()) return it->second;
  state = stuck_.value_or(target_);
  return S_OK;
}

HRESULT ScriptedMediaGraph::SetOutputName(const std::string& name) {
  if (auto r = Call("SetOutputName", name)) return *r;
  outputName_ = name;
  return S_OK;
}
HRESULT ScriptedMediaGraph::GetDuration(REFERENCE_TIME& duration) {
  if (auto r = Call("GetDuration")) return *r;
  if (!loaded_) return E_NOTIMPL;
  duration = clip_.Duration;
  return S_OK;
}
HRESULT ScriptedMediaGraph::GetCurrentPosition(REFERENCE_TIME& position) {
  if (auto r = Call("GetCurrentPosition")) return *r;
  if (!loaded_) return E_NOTIMPL;
  position = current_;
  return S_OK;
}
HRESULT ScriptedMediaGraph::SetPositions(const REFERENCE_TIME* current, unsigned currentFlags,
                                         const REFERENCE_TIME* stop, unsigned stopFlags) {
  const bool setCurrent = currentFlags & AM_SEEKING_AbsolutePositioning;
  const bool setStop = stopFlags & AM_SEEKING_AbsolutePositioning;
  const std::string args = (setCurrent && current ? std::to_string(*current) : "-") + " " +
                           (setStop && stop ? std::to_string(*stop) : "-");
  if (auto r = Call("SetPositions", args)) return *r;
  if (!loaded_) return E_NOTIMPL;
  if ((setCurrent && !current) || (setStop && !stop)) return E_POINTER;
  if (setCurrent) current_ = *current;
  if (setStop) stop_ = *stop;
  return S_OK;
}
HRESULT ScriptedMediaGraph::GetRate(double& rate) {
  if (auto r = Call("GetRate")) return *r;
  rate = rate_;
  return S_OK;
}
HRESULT ScriptedMediaGraph::SetRate(double rate) {
  if (auto r = Call("SetRate", std::to_string(rate))) return *r;
  if (!(rate > 0)) return E_INVALIDARG;
  rate_ = rate;
  return S_OK;
}
HRESULT ScriptedMediaGraph::IsFormatSupported(const Guid& format) {
  if (auto r = Call("IsFormatSupported")) return *r;
  return format == kTimeFormatMediaTime ? S_OK : S_FALSE;
}
HRESULT ScriptedMediaGraph::IsUsingTimeFormat(const Guid& format) {
  if (auto r = Call("IsUsingTimeFormat")) return *r;
  return format == kTimeFormatMediaTime ? S_OK : S_FALSE;
}
HRESULT ScriptedMediaGraph::GetTimeFormat(Guid& format) {
  if (auto r = Call("GetTimeFormat")) return *r;
  format = kTimeFormatMediaTime;
  return S_OK;
}
HRESULT ScriptedMediaGraph::SetTimeFormat(const Guid& format) {
  if (auto r = Call("SetTimeFormat")) return *r;
  return format == kTimeFormatMediaTime ? S_OK : E_INVALIDARG;
}

HRESULT ScriptedMediaGraph::get_Volume(long& volume) {
  if (auto r = Call("get_Volume")) return *r;
  if (!Connected(kAudio)) return E_NOTIMPL;
  volume = volume_;
  return S_OK;
}
HRESULT ScriptedMediaGraph::put_Volume(long volume) {
  if (auto r = Call("put_Volume", std::to_string(volume))) return *r;
  if (volume > 0 || volume < -10000) return E_INVALIDARG;
  if (!Connected(kAudio)) return E_NOTIMPL;
  volume_ = volume;
  return S_OK;
}

HRESULT ScriptedMediaGraph::put_Owner(QWidget* owner) {
  if (auto r = Call("put_Owner", owner ? "window" : "0")) return *r;
  if (!Connected(kVideo)) return E_NOINTERFACE;
  owner_ = owner;
  return S_OK;
}
HRESULT ScriptedMediaGraph::get_Owner(QWidget*& owner) {
  if (auto r = Call("get_Owner")) return *r;
  if (!Connected(kVideo)) return E_NOINTERFACE;
  owner = owner_;
  return S_OK;
}
HRESULT ScriptedMediaGraph::put_WindowStyle(long style) {
  if (auto r = Call("put_WindowStyle", std::to_string(style))) return *r;
  if (!Connected(kVideo)) return E_NOINTERFACE;
  style_ = style;
  return S_OK;
}
HRESULT ScriptedMediaGraph::put_Visible(long visible) {
  if (auto r = Call("put_Visible", std::to_string(visible))) return *r;
  if (!Connected(kVideo)) return E_NOINTERFACE;
  visible_ = visible != 0;
  return S_OK;
}
HRESULT ScriptedMediaGraph::put_MessageDrain(QObject* drain) {
  if (auto r = Call("put_MessageDrain")) return *r;
  if (!Connected(kVideo)) return E_NOINTERFACE;
  drain_ = drain;
  return S_OK;
}
HRESULT ScriptedMediaGraph::put_FullScreenMode(long mode) {
  if (auto r = Call("put_FullScreenMode", std::to_string(mode))) return *r;
  return Connected(kVideo) ? S_OK : E_NOINTERFACE;
}
HRESULT ScriptedMediaGraph::SetWindowPosition(long left, long top, long width, long height) {
  if (auto r = Call("SetWindowPosition", std::to_string(left) + " " + std::to_string(top) + " " +
                                             std::to_string(width) + " " + std::to_string(height)))
    return *r;
  if (!Connected(kVideo)) return E_NOINTERFACE;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  return S_OK;
}
HRESULT ScriptedMediaGraph::GetWindowPosition(long& left, long& top, long& width, long& height) {
  if (auto r = Call("GetWindowPosition")) return *r;
  if (!Connected(kVideo)) return E_NOINTERFACE;
  left = left_;
  top = top_;
  width = width_;
  height = height_;
  return S_OK;
}
HRESULT ScriptedMediaGraph::GetVideoSize(long& width, long& height) {
  if (auto r = Call("GetVideoSize")) return *r;
  if (!Connected(kVideo)) return E_NOINTERFACE;
  width = clip_.VideoWidth;
  height = clip_.VideoHeight;
  return S_OK;
}
HRESULT ScriptedMediaGraph::SetSourcePosition(long left, long top, long width, long height) {
  if (auto r = Call("SetSourcePosition", std::to_string(left) + " " + std::to_string(top) + " " +
                                             std::to_string(width) + " " + std::to_string(height)))
    return *r;
  return Connected(kVideo) ? S_OK : E_NOINTERFACE;
}

HRESULT ScriptedMediaGraph::SetNotifyWindow(QObject* window, int msg, std::intptr_t instance) {
  if (auto r = Call("SetNotifyWindow", std::to_string(msg) + " " + std::to_string(instance)))
    return *r;
  notifyWindow_ = window;
  notifyMsg_ = msg;
  notifyParam_ = instance;
  return S_OK;
}
HRESULT ScriptedMediaGraph::SetNotifyFlags(long flags) {
  if (auto r = Call("SetNotifyFlags", std::to_string(flags))) return *r;
  notifyFlags_ = flags;
  return S_OK;
}
HRESULT ScriptedMediaGraph::GetEvent(long& code, std::intptr_t& param1, std::intptr_t& param2,
                                     long timeoutMs) {
  if (auto r = Call("GetEvent", std::to_string(timeoutMs))) return *r;
  if (events_.empty()) return E_ABORT;
  code = events_.front().code;
  param1 = events_.front().p1;
  param2 = events_.front().p2;
  events_.pop_front();
  return S_OK;
}
HRESULT ScriptedMediaGraph::FreeEventParams(long code, std::intptr_t, std::intptr_t) {
  if (auto r = Call("FreeEventParams", std::to_string(code))) return *r;
  ++freed_;
  return S_OK;
}

}  // namespace engine
