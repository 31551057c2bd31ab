#pragma once
// The stage at the head of every audio renderer that lets the clip's sound
// follow the playback rate by resampling, and ramps its gain where the clip
// is cut inside: in at a start mark, out at a stop mark. Private to the
// media layer.
//
// A seek at rate r makes the decoder send clip time and a segment of rate r;
// an audio sink given that would drop or repeat samples to keep time. This
// stage instead declares the sound at r times its sample rate, so the
// resampler after it converts properly (the pitch follows the speed, as on a
// tape), and passes on a segment of rate 1 that notes r as already applied,
// with times mapped to match. Positions read from the sink are then still
// clip time, and every end and mark keeps its place.

#include <gst/gst.h>

namespace platform::media {

// A new floating element; F32 interleaved in and out.
GstElement* MakeVarispeed();

}  // namespace platform::media
