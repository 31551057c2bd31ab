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
//
// Where a segment is cut inside the clip, its last ramp's worth of sound is
// held back until it is known what follows: a segment that continues the
// stream without a flush (a loop) crossfades with it, with no gap; anything
// else plays it out ramped down.

#include <gst/gst.h>

namespace engine {

// A new floating element; F32 interleaved in and out.
GstElement* MakeVarispeed();

// A new floating resampler for after the stage: it does the conversion the
// stage declares, at its best quality so that a changed rate adds no tones
// of its own.
GstElement* MakeVarispeedResampler();

// False when $TASTIVO_FLUSHING_LOOPS is set: seeks flush, segments end with
// an end-of-stream and a loop starts anew, as before (for comparing).
bool SeamlessLoops();

// Any thread: the varispeed stages inside `bin` (or `bin` itself) play on
// at `rate` from the next buffer they take, without a flush: the sound
// already queued after them keeps its rate, so the change is as seamless as
// the waveform. Positions keep reading clip time. A flushing seek replaces
// the rate with its own.
void SetVarispeedRate(GstElement* bin, double rate);

// Any thread: the next segment of the varispeed stages inside `bin` goes
// on from sound already heard (the head of an armed start): it is not
// ramped in.
void ContinueVarispeedStart(GstElement* bin);

// Window thread: the segment's end was reported and no seek followed, so
// the last few milliseconds that each stage inside `bin` holds back (to
// crossfade them with a loop's start) are played out, ramped down. Never
// blocks.
void ReleaseVarispeedTail(GstElement* bin);

}  // namespace engine
