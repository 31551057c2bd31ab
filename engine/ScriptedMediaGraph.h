#pragma once
// A deterministic media graph for unit tests. Files are scripted with the
// streams and length they have; every call is logged; any call can be made
// to answer a chosen result; events are queued by the test.

#include "engine/MediaGraph.h"

#include <QPointer>
#include <QWidget>

#include <deque>
#include <map>
#include <optional>

namespace engine {

struct ScriptedClip {
  REFERENCE_TIME Duration = 600000000;  // 60 s
  bool HasAudio = true;
  bool HasVideo = false;
  long VideoWidth = 320, VideoHeight = 240;
  HRESULT RenderResult = S_OK;
  std::string AudioRendererName = "Default Audio Device";
};

class ScriptedFilter;

class ScriptedMediaGraph : public MediaGraph {
 public:
  ScriptedMediaGraph();
  ~ScriptedMediaGraph() override;

  // What RenderFile finds at path; unscripted paths are missing files.
  void AddClip(const std::string& path, ScriptedClip clip = {});
  // Makes every later call of the named operation ("Run", "GetCurrentPosition",
  // "put_Visible", ...) answer hr instead, until ClearResult.
  void SetResult(const std::string& call, HRESULT hr);
  void ClearResult(const std::string& call);
  // GetState keeps reporting this state, as a graph that hangs would.
  void StickState(std::optional<FilterState> state) { stuck_ = state; }
  // A device class CreateFilter can make an audio renderer of.
  void AddDeviceClass(const Guid& classId);
  // The loaded clip's length as the graph learns it while playing.
  void SetDuration(REFERENCE_TIME duration) { clip_.Duration = duration; }
  // Queues an event and announces it to the notify window, as a graph does.
  void QueueEvent(long code, std::intptr_t param1 = 0, std::intptr_t param2 = 0);

  // Every call in order: the name, then the arguments that matter.
  const std::vector<std::string>& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  int FreedEvents() const { return freed_; }

  FilterState Target() const { return target_; }
  REFERENCE_TIME Current() const { return current_; }
  REFERENCE_TIME StopAt() const { return stop_; }
  double Rate() const { return rate_; }
  long Volume() const { return volume_; }
  QWidget* Owner() const { return owner_; }
  bool Visible() const { return visible_; }
  QObject* Drain() const { return drain_; }
  long WindowStyle() const { return style_; }
  std::vector<std::string> FilterNames();

  HRESULT RenderFile(const std::string& fileName) override;
  HRESULT AddFilter(const std::shared_ptr<IBaseFilter>& filter, const std::string* name) override;
  HRESULT RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) override;
  HRESULT EnumFilters(std::vector<std::shared_ptr<IBaseFilter>>& filters) override;
  HRESULT Connect(const std::shared_ptr<IPin>& output, const std::shared_ptr<IPin>& input) override;
  HRESULT CreateFilter(const Guid& classId, std::shared_ptr<IBaseFilter>& filter) override;
  std::string LastErrorDetail() const override { return detail_; }
  HRESULT SetOutputName(const std::string& name) override;
  const std::string& OutputName() const { return outputName_; }

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

 private:
  std::optional<HRESULT> Call(const std::string& name, const std::string& args = {});
  std::shared_ptr<ScriptedFilter> Connected(int role) const;

  std::map<std::string, ScriptedClip> clips_;
  std::map<std::string, HRESULT> results_;
  std::vector<Guid> deviceClasses_;
  std::vector<std::string> calls_;
  std::vector<std::shared_ptr<ScriptedFilter>> filters_;
  std::optional<FilterState> stuck_;
  std::string detail_;
  std::string outputName_;
  FilterState target_ = FilterState::State_Stopped;
  bool loaded_ = false;
  ScriptedClip clip_;
  REFERENCE_TIME current_ = 0, stop_ = 0;
  double rate_ = 1.0;
  long volume_ = 0;
  QPointer<QWidget> owner_;
  QPointer<QObject> drain_;
  bool visible_ = false;
  long style_ = 0;
  long left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  struct Event {
    long code;
    std::intptr_t p1, p2;
  };
  std::deque<Event> events_;
  int freed_ = 0;
  QPointer<QObject> notifyWindow_;
  int notifyMsg_ = 0;
  std::intptr_t notifyParam_ = 0;
  long notifyFlags_ = 0;
};

}  // namespace engine
