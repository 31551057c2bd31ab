#pragma once
// The stop of a seek in an MPEG program stream, kept by the decoders rather
// than by GStreamer's demuxer. After a seek in a file whose clock does not
// start at zero (FFmpeg's muxer starts it at half a second) that demuxer
// holds no position, reads any stop as passed, and ends the segment at the
// end of the first block it reads: a quarter of a second. So the demuxer of
// such a program stream gets its seeks without their stop, and the segments
// it sends carry the stop again: the decoders clip the last frame to it and
// answer "ended" to what lies past it, and once every stream has, the
// demuxer ends the segment (or the stream) as at a stop of its own.
// Private to the media layer.

#include <gst/gst.h>

#include <string>

namespace engine {

// Watches a new decoder (a uridecodebin, before it starts) of the file
// `path` for a program stream demuxer, and keeps that demuxer's stops from
// then on. Only a file that begins with a pack header is watched: a watch
// on every decoder was seen to cost eight playing windows two points of a
// core. Any thread; once per decoder.
void KeepProgramStreamStops(GstElement* decoder, const std::string& path);

// True once such a decoder has shown a program stream whose stops it
// keeps (one whose clock does not start at zero). Its
// decoders end each segment by answering "ended" to what lies past the
// stop, which a segment that follows without a flush does not undo: a loop
// in it must flush. Any thread.
bool IsProgramStream(GstElement* decoder);

}  // namespace engine
