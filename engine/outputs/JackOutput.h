#pragma once
// Our output to a JACK server: our output sink (OutputSink.h) whose device
// is a JACK client of its own. Private to the media layer.
//
// Whenever its sound is cut (a stop, a pause, a flush for a seek or for the
// next clip, the clip taken away), the server's next cycle still plays the
// first few milliseconds of what was about to sound, ramped down to
// silence. The fade is played by the
// server's own thread from a copy made one cycle ahead, so nothing waits
// for it: a key pressed again starts its clip as soon as a key pressed in
// silence would, with the old sound fading under the new one's attack. A
// resume after a pause is ramped in; a clip that starts anew is not, so its
// attack stays whole.
//
// A window's key armed on its output (cue/ArmedStart.h) starts in the
// server's next cycle, from the clip's head, mixed over the ring's sound
// here, until the graph's sound takes over on the sample it was pinned to.
//
// The JACK client lives from the element's READY to its NULL. It has two
// ports, left and right (one on a server with a single physical output),
// connected to the server's first physical outputs, or, with a port memory,
// to the ports remembered there, kept connected as they come and go.

#include <gst/gst.h>

#include <memory>
#include <string>

namespace engine {

class PortMemory;

// A new floating element named `clientName` on `server` ("" for the
// default one), or nullptr when no JACK library is at hand.
GstElement* MakeJackOutput(const std::string& clientName, const std::string& server = {},
                           std::shared_ptr<PortMemory> ports = nullptr);

}  // namespace engine
