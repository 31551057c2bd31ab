#pragma once
// The device behind our output sink (OutputSink.h): a JACK client, a
// PulseAudio stream or an ALSA PCM, as a plain class. The sink does all of
// GStreamer's part (the element, its ring buffer, caps, properties, state
// changes); a device only opens, closes, says what it plays and how much it
// holds, and reads the ring on its own thread. Private to the media layer.
//
// A device reads the ring in one of two ways. One that asks for a period
// at a time and plays it at once (a JACK server) reads through a
// RingReader. One that keeps a queue of sound ahead of its speakers (a
// PulseAudio stream, an ALSA device) fills it through a QueueFiller, which
// writes starts and cuts over that queue; it returns it from Filler(), and
// the sink then keeps the filler told of what the ring does.

#include "engine/outputs/QueueFiller.h"
#include "engine/outputs/RingReader.h"

#include <gst/audio/audio.h>

#include <atomic>
#include <memory>
#include <string>

namespace engine {

// What the element was asked to play on, from its properties.
struct OutputSettings {
  std::string clientName;  // the name the server shows ("tastivo" if unset)
  std::string device;      // the server's sink or ALSA device, "" for the default
};

class PortMemory;

// The rate and channels a device plays, once it is open.
struct OutputFormat {
  int rate = 0;  // 0: not open
  int channels = 0;
};

class OutputDevice {
 public:
  // The calling thread (a device's, the loop watch's) runs ahead of the
  // machine's ordinary work, as a sound server's own threads do, where the
  // machine allows it (else as it was), so that a busy machine delays what
  // the window and the decoders do, not the starts, cuts and loops it
  // makes.
  static void RunAheadOfOrdinaryWork();

  virtual ~OutputDevice() = default;

  // The element's READY: the device is opened, and its thread may read
  // the ring from now on (it plays silence until the ring starts). On
  // failure the device has said why (Fail) and holds nothing.
  virtual bool Open() = 0;
  // The element's NULL: the device's thread is out of the ring for good.
  virtual void Close() = 0;
  // Any thread: what the device plays; rate 0 while it is closed.
  virtual OutputFormat Format() const = 0;
  // The ring's acquire: frames a ring segment holds, one device period.
  virtual int SegmentFrames() = 0;
  // Any thread: frames of the ring's sound the device holds and has not
  // played yet, by the device's own report.
  virtual unsigned Delay() { return filler_ ? filler_->Delay() : 0; }

  // How the device reads the ring: the filler's reader when it has one.
  RingReader& Reader() { return filler_ ? filler_->Reader() : reader_; }
  QueueFiller* Filler() { return filler_; }

  // Any thread: the device went away; the ring no longer takes sound.
  bool Gone() const { return gone_.load(); }
  // The ring's release: the device's thread is out of it (or the device
  // gone) before its memory goes.
  void ReleaseRing(GstAudioRingBuffer* buf);

  // Set by the sink before Open, for a device with ports: what they are to
  // be connected to, kept by the window (null: the first physical outputs).
  virtual void UsePorts(std::shared_ptr<PortMemory> ports) { (void)ports; }

  // Set by the sink before Open: the element errors are posted from, and
  // the ring the device reads.
  void Attach(GstElement* sink, GstAudioRingBuffer* ring) {
    sink_ = sink;
    ring_ = ring;
  }

 protected:
  // A device with a queue passes its filler (owned by it) once, at
  // construction.
  explicit OutputDevice(QueueFiller* filler = nullptr) : filler_(filler) {}

  // Any thread: posts an error on the pipeline's bus from the sink.
  void Fail(GstResourceError code, const char* text, const std::string& detail = {}) const;
  // Device thread, when the device went away: the ring stops taking sound
  // and the pipeline is told (once), which gives the output up.
  void Lose(GstResourceError code, const char* text);
  GstAudioRingBuffer* Ring() const { return ring_; }
  std::atomic<bool> gone_{false};

 private:
  QueueFiller* filler_;
  RingReader reader_;
  GstElement* sink_ = nullptr;  // not owned: the sink owns the ring, which owns us
  GstAudioRingBuffer* ring_ = nullptr;
};

}  // namespace engine
