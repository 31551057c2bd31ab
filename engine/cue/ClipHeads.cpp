#include "engine/cue/ClipHeads.h"

#include "engine/GstInternal.h"
#include "engine/stages/Varispeed.h"
#include "engine/timing/SharedClock.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QPointer>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace engine {

namespace {

constexpr GstClockTime kWaitForDecoder = 5 * GST_SECOND;

}  // namespace

int ExpectedOutputRate() {
  const auto cycle = CurrentServerCycle();
  return cycle ? cycle->rate : 0;
}

std::shared_ptr<const ClipHead> ReadClipHead(const HeadRequest& request) {
  EnsureGstInitialized();
  if (request.rate <= 0 || request.channels <= 0 || request.frames <= 0 || !(request.speed > 0))
    return nullptr;
  gchar* uri = gst_filename_to_uri(request.path.c_str(), nullptr);
  if (uri == nullptr) return nullptr;
  const std::string description =
      std::string("uridecodebin name=decode expose-all-streams=false caps=audio/x-raw uri=\"") +
      uri + "\" ! audioconvert name=convert";
  g_free(uri);
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (error != nullptr) g_error_free(error);
  if (pipeline == nullptr) return nullptr;
  // The head goes through the stages the graph's audio renderer plays the
  // clip through: the varispeed stage at the key's rate, which also ramps
  // a start inside the clip in, and the same resampler. The graph's sound
  // then goes on from where the head's ends, sample for sample.
  GstElement* convert = gst_bin_get_by_name(GST_BIN(pipeline), "convert");
  GstElement* varispeed = MakeVarispeed();
  GstElement* resample = MakeVarispeedResampler();
  GstElement* channels = gst_element_factory_make("audioconvert", nullptr);
  GstElement* format = gst_element_factory_make("capsfilter", nullptr);
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  bool ok = convert && varispeed && resample && channels && format && sink;
  if (ok) {
    GstCaps* caps = gst_caps_new_simple(
        "audio/x-raw", "format", G_TYPE_STRING, "F32LE", "layout", G_TYPE_STRING, "interleaved",
        "rate", G_TYPE_INT, request.rate, "channels", G_TYPE_INT, request.channels, nullptr);
    g_object_set(format, "caps", caps, nullptr);
    gst_caps_unref(caps);
    g_object_set(sink, "sync", FALSE, "max-buffers", 8, nullptr);
    gst_object_ref(sink);
    gst_bin_add_many(GST_BIN(pipeline), varispeed, resample, channels, format, sink, nullptr);
    ok = gst_element_link_many(convert, varispeed, resample, channels, format, sink, nullptr);
  } else {
    for (GstElement* e : {varispeed, resample, channels, format, sink})
      if (e) gst_object_unref(gst_object_ref_sink(e));
    sink = nullptr;
  }
  if (convert) gst_object_unref(convert);
  auto head = std::make_shared<ClipHead>();
  head->path = request.path;
  head->identity = FileIdentity::Of(request.path);
  head->mark = request.mark;
  head->speed = request.speed;
  head->rate = request.rate;
  head->channels = request.channels;
  ok = ok && gst_element_set_state(pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE &&
       gst_element_get_state(pipeline, nullptr, nullptr, kWaitForDecoder) ==
           GST_STATE_CHANGE_SUCCESS;
  gint64 duration = 0;
  if (ok && gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration) && duration > 0)
    head->clipNs = duration;
  if (ok && (request.mark > 0 || request.speed != 1.0)) {
    // The graph's seek to the mark, at the key's rate.
    ok = request.mark == 0 || duration > 0;
    head->startNs = std::int64_t(request.mark) * duration / 10000;
    ok = ok && gst_element_seek(pipeline, request.speed, GST_FORMAT_TIME,
                                GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                GST_SEEK_TYPE_SET, head->startNs, GST_SEEK_TYPE_NONE, -1);
    ok = ok && gst_element_get_state(pipeline, nullptr, nullptr, kWaitForDecoder) ==
                   GST_STATE_CHANGE_SUCCESS;
  }
  ok = ok && gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
  const std::size_t want = std::size_t(request.frames) * std::size_t(request.channels);
  head->samples.reserve(want);
  while (ok && head->samples.size() < want) {
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), kWaitForDecoder);
    if (sample == nullptr) break;  // the end of the clip, or an error
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      const auto* from = reinterpret_cast<const float*>(map.data);
      const std::size_t n = std::min(map.size / sizeof(float), want - head->samples.size());
      head->samples.insert(head->samples.end(), from, from + n);
      gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  if (sink) gst_object_unref(sink);
  gst_object_unref(pipeline);
  if (!ok || head->samples.size() < want) return nullptr;
  return head;
}

namespace {

// One worker for every window, reading a batch at a time.
class HeadWorker {
 public:
  static HeadWorker& Instance() {
    static HeadWorker* worker = new HeadWorker();  // lives as long as the process
    return *worker;
  }

  void Add(QObject* context, std::vector<HeadRequest> requests,
           std::function<void(std::vector<std::shared_ptr<const ClipHead>>)> done) {
    std::lock_guard lock(mutex_);
    std::erase_if(queue_, [&](const Batch& b) { return b.context == context; });
    queue_.push_back({QPointer<QObject>(context), context, std::move(requests), std::move(done)});
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    wake_.notify_one();
  }

 private:
  struct Batch {
    QPointer<QObject> guard;
    const QObject* context;
    std::vector<HeadRequest> requests;
    std::function<void(std::vector<std::shared_ptr<const ClipHead>>)> done;
  };

  void Run() {
    // Below the window and the sound, as the cue pool cues.
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !queue_.empty(); });
      Batch batch = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      std::vector<std::shared_ptr<const ClipHead>> heads;
      for (const HeadRequest& r : batch.requests) heads.push_back(ReadClipHead(r));
      if (QObject* context = batch.guard.data())
        QMetaObject::invokeMethod(context, [guard = batch.guard, done = std::move(batch.done),
                                            heads = std::move(heads)]() mutable {
          if (guard) done(std::move(heads));
        });
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Batch> queue_;
  std::thread thread_;
};

}  // namespace

void ReadClipHeads(QObject* context, std::vector<HeadRequest> requests,
                   std::function<void(std::vector<std::shared_ptr<const ClipHead>>)> done) {
  HeadWorker::Instance().Add(context, std::move(requests), std::move(done));
}

}  // namespace engine
