#pragma once
// Clips for the video window's tests, made once per run with gst-launch-1.0
// into the shared test data folder.

#include <QString>

namespace video_clips {

QString Red4x3();  // 4 s of solid red 320 x 240 at 25 frames a second, no sound
QString Tone();    // 1 s of a sine tone, WAV
// 1 s of solid red, then 1 s of solid green, 160 x 120 at 25 frames a
// second, no sound: its first frame and its last differ.
QString RedThenGreen();
QString RedThenGreenWithTone();  // the same with a sine tone throughout
QString Green();                 // 1 s of solid green 160 x 120, no sound

}  // namespace video_clips
