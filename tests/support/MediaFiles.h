#pragma once
// Clips generated for the integration tests with gst-launch-1.0, made once
// per run into the shared test data folder.

#include <QString>

namespace media_files {

QString ToneWav();          // 2 s, 44.1 kHz stereo sine
QString LongToneWav();      // the same for 10 s
QString SilentWav();        // 2 s of silence, as ToneWav's format
QString ToneWavHalfRate();  // 4 s at 22.05 kHz: the same size as ToneWav
QString ToneOgg();          // 2 s, Vorbis
QString ToneAiff();         // 2 s, AIFF
QString ChainedOgg();       // two Vorbis chains of 2 s, 440 Hz then 880 Hz, one after the other
QString ToneMp3();          // 2 s, MP3 with a seek table
QString ToneRawMp3();       // 2 s, bare MP3 frames: the length is unknown until it plays
QString ToneVbrMp3();       // the same at a variable bit rate
QString ToneAdts();         // 2 s, bare AAC frames (ADTS), as unknown in length
QString RedAvi();           // 1 s of solid red 160 x 120 with 1 s of sound
QString RedSilentAvi();     // the same picture without sound
QString ShortMidi();        // one note of 1 s
QString Corrupt();          // noise under an .mp3 name
// The other names of the key editor's file mask:
QString GreenMpg();  // 1 s of solid green MPEG-2 with MPEG audio in a program stream
QString GreenDat();  // the same, named as on a video CD
// 4 s of MPEG-2 picture and MPEG audio in a program stream as FFmpeg's muxer
// writes it, its clock starting at about half a second.
QString FfmpegMpg();
QString BlueDivx();  // 1 s of solid blue MPEG-4 with sound in AVI
QString BlueDvx();   // the same under the short name
QString ToneRiff();  // the tone WAV under a .riff name
QString ShortKar();  // the MIDI note under a karaoke name

// A 48 kHz sine at half scale in 32-bit float, `channels` channels: a tone
// whose every sample step is known, for hearing edges.
QString Sine(double hertz, double seconds, int channels = 2);

// A clip whose every first frame can be told by ear: the left channel holds
// a constant 0.8 from the first frame on, the right one falls from 0.8 by
// 0.8 / kMarkerFrames a frame. The first frame heard tells how much of the
// clip's start was cut (from the ratio of the channels, whatever the gain),
// and whether it was faded in (the left channel stays level).
constexpr int kMarkerFrames = 4800;
QString StartMarker();

// 4 s of 48 kHz mono silence with a 1 kHz sine burst at 0.8 from 1.0 s to
// 1.5 s: sound at a known place, for pictures of the sound.
QString SineBurst();

}  // namespace media_files
