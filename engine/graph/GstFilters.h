#pragma once
// The graph's filter and pin wrappers over GStreamer elements and pads, the
// helpers that build renderer bins, and the callbacks GStreamer calls on its
// streaming threads. Private to the media layer.

#include "engine/GstInternal.h"
#include "engine/MediaGraph.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <QEvent>
#include <QImage>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace engine {

enum class Role { Source, AudioRenderer, VideoRenderer, NullRenderer };

class BusEvent : public QEvent {
 public:
  BusEvent(GstMessage* message, std::uint64_t generation)
      : QEvent(Type()), Message(message), Generation(generation) {}
  ~BusEvent() override { gst_message_unref(Message); }
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  GstMessage* Message;
  std::uint64_t Generation;
};

// A stream the decoder exposed after its clip was loaded (the next chain of
// a chained Ogg, say). Its pad stays blocked until the window thread has
// linked it.
class LatePadEvent : public QEvent {
 public:
  LatePadEvent(GstPad* pad, gulong probe)
      : QEvent(Type()), Pad(GST_PAD(gst_object_ref(pad))), Probe(probe) {}
  ~LatePadEvent() override {
    // Whatever became of it, the stream must not stay blocked.
    gst_pad_remove_probe(Pad, Probe);
    gst_object_unref(Pad);
  }
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  GstPad* Pad;
  gulong Probe;
};

Guid MajorTypeOf(GstPad* pad);

class GstPinRef : public IPin {
 public:
  explicit GstPinRef(GstPad* pad) : pad_(GST_PAD(gst_object_ref(pad))) {}
  ~GstPinRef() override { gst_object_unref(pad_); }

  HRESULT QueryDirection(PinDirection& direction) override {
    direction = GST_PAD_IS_SRC(pad_) ? PinDirection::PINDIR_OUTPUT : PinDirection::PINDIR_INPUT;
    return S_OK;
  }
  HRESULT ConnectionMediaType(Guid& majorType) override {
    GstPad* peer = gst_pad_get_peer(pad_);
    if (peer == nullptr) return VFW_E_NOT_CONNECTED;
    gst_object_unref(peer);
    majorType = MajorTypeOf(pad_);
    return S_OK;
  }
  HRESULT ConnectedTo(std::shared_ptr<IPin>& pin) override {
    GstPad* peer = gst_pad_get_peer(pad_);
    if (peer == nullptr) {
      pin.reset();
      return VFW_E_NOT_CONNECTED;
    }
    pin = std::make_shared<GstPinRef>(peer);
    gst_object_unref(peer);
    return S_OK;
  }
  GstPad* Pad() const { return pad_; }

 private:
  GstPad* pad_;
};

// What the audio sink's pad probe reports to, shared with the probe so it
// stays valid as long as the element can stream.
struct ProbeState {
  std::mutex mutex;
  std::function<void()> observer;
  std::atomic<bool> sawBuffer{false};
  // How much sound, in ns, the audio outputs have taken.
  std::atomic<std::uint64_t> playedNs{0};
};

// Which seek each end-of-stream follows. A seek's sequence number comes back
// on the flush it causes and, from most decoders, on the new segment; but
// many send their EOS with a fresh number. So the renderers' inputs note what
// each EOS follows: the sink posts its EOS message with the EOS event's
// number, and the window thread looks the seek up from there.
struct SegmentTracker {
  struct Origin {
    std::uint32_t flush = GST_SEQNUM_INVALID;    // of the latest flush
    std::uint32_t segment = GST_SEQNUM_INVALID;  // of the latest segment
  };
  std::mutex mutex;
  // EOS event sequence number -> what came before it on the same input.
  std::map<std::uint32_t, Origin> ends;
};

// Watches the segments and ends that reach a sink element's input.
void WatchSegments(GstElement* sink, const std::shared_ptr<SegmentTracker>& tracker);

class GstFilter : public IBaseFilter {
 public:
  GstFilter(Role role, GstElement* element, std::string name, const void* graph)
      : role(role),
        element(GST_ELEMENT(gst_object_ref_sink(element))),
        name(std::move(name)),
        graph(graph) {}
  ~GstFilter() override {
    if (GST_OBJECT_PARENT(element) == nullptr && !handedOff)
      gst_element_set_state(element, GST_STATE_NULL);
    if (volume) gst_object_unref(volume);
    if (sink) gst_object_unref(sink);
    gst_object_unref(element);
  }

  HRESULT EnumPins(std::vector<std::shared_ptr<IPin>>& pins) override {
    pins.clear();
    ForEachItem(
        role == Role::Source ? gst_element_iterate_src_pads(element)
                             : gst_element_iterate_sink_pads(element),
        [&](gpointer pad) { pins.push_back(std::make_shared<GstPinRef>(GST_PAD(pad))); },
        [&] { pins.clear(); });
    return S_OK;
  }

  HRESULT QueryFilterInfo(std::string& out) override {
    out = name;
    return S_OK;
  }

  GstPad* InputPad() const { return gst_element_get_static_pad(element, "sink"); }
  bool IsLinked() const {
    if (role == Role::Source) return true;
    GstPad* pad = InputPad();
    if (pad == nullptr) return false;
    const bool linked = gst_pad_is_linked(pad);
    gst_object_unref(pad);
    return linked;
  }
  bool InBin() const { return GST_OBJECT_PARENT(element) != nullptr; }

  const Role role;
  GstElement* const element;
  std::string name;
  const void* const graph;
  GstElement* volume = nullptr;  // audio renderers: the level stage
  GstElement* sink = nullptr;    // audio renderers: the output element
  bool cached = false;           // the graph's default output, kept open between clips
  bool handedOff = false;        // a worker stops the element; never wait for it here
  // Out of the pipeline but still holding its device, flushing until the
  // next clip links it. Read on the streaming thread that links it.
  std::atomic<bool> parked{false};
};

// Builds a bin from a chain of elements with a ghost "sink" pad on the first.
GstElement* MakeChainBin(const char* name, std::initializer_list<GstElement*> chain);

// An image over the sample's BGRx frame, without a copy; it takes over the
// sample's reference and gives it up with its last copy. Null for any other
// format.
QImage ImageFromSample(GstSample* sample);

class FrameSlot;

// What a video renderer's sink callbacks share. Only touched on the sink's
// streaming thread.
struct VideoSinkState {
  std::shared_ptr<FrameSlot> frames;
  // The frame size the sink's caps ask for now; empty for any.
  QSize requested;
  // Asks upstream for frames of the size they are painted at, when it
  // changed: scaling the YUV picture before converting it costs less than
  // converting the full frame, and leaves the window thread a plain copy.
  void FollowPaintSize(GstAppSink* sink);
};

// Runs on a streaming thread: hands the frame to the window thread. The data
// is a VideoSinkState.
GstFlowReturn OnVideoSample(GstAppSink* sink, gpointer data, bool preroll);

// Runs on a streaming thread; only touches the shared probe state.
GstPadProbeReturn OnAudioSinkData(GstPad*, GstPadProbeInfo* info, gpointer data);

}  // namespace engine
