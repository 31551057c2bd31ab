#pragma once
// Clips for the video window's tests, made once per run with gst-launch-1.0
// into the shared test data folder.

#include <QString>

namespace video_clips {

QString Red4x3();  // 4 s of solid red 320 x 240 at 25 frames a second, no sound
QString Tone();    // 1 s of a sine tone, WAV

}  // namespace video_clips
