#pragma once
// GStreamer helpers private to the media layer.

#include <gst/gst.h>

#include <memory>
#include <string>

namespace engine {

// Initializes GStreamer once per process; safe to call repeatedly.
void EnsureGstInitialized();

// The sink element the machine plays through by default, chosen once per
// process (see DefaultAudioOutput): $TASTIVO_AUDIO_SINK when it opens, else
// a JACK server when one runs, else PulseAudio (which PipeWire also serves),
// else ALSA, else a fakesink that keeps time, so clips still play and end on
// time on a machine without sound. clientName is what a sound server shows
// for it ("" for the default). Returns a new floating element.
GstElement* CreateDefaultAudioSink(const std::string& clientName);
// The element name CreateDefaultAudioSink uses.
std::string DefaultAudioSinkName();
// True when the default output is a real device rather than the fakesink.
bool HasRealAudioOutput();

class PortMemory;

// A new sink for a window's chosen output (SoundOutputList.h; "" for the
// default), set up as the default one is; a JACK output keeps its
// connections in `ports`.
GstElement* CreateChosenAudioSink(const std::string& key, const std::string& clientName,
                                  const std::shared_ptr<PortMemory>& ports);

// A new sink for the device identifier that EnumerateAudioRenderers gave,
// or nullptr when it is unknown.
GstElement* CreateAudioDeviceSink(const std::string& classId, const std::string& clientName);

// Calls `each` with every object `it` gives, and `restart` when what it
// walks changed under it and the walk begins again; frees the iterator.
template <typename Each, typename Restart>
void ForEachItem(GstIterator* it, Each each, Restart restart) {
  GValue item = G_VALUE_INIT;
  for (bool done = false; !done;) {
    switch (gst_iterator_next(it, &item)) {
      case GST_ITERATOR_OK:
        each(g_value_get_object(&item));
        g_value_reset(&item);
        break;
      case GST_ITERATOR_RESYNC:
        restart();
        gst_iterator_resync(it);
        break;
      default:
        done = true;
    }
  }
  g_value_unset(&item);
  gst_iterator_free(it);
}

}  // namespace engine
