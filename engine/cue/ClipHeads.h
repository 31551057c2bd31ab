#pragma once
// The heads of a window's clips for its armed starts (ArmedStart.h): the
// first moments of each clip from its key's start mark, decoded ahead at
// the output's rate and channels, so that the output can start a key
// before the graph has it.
//
// Heads are read one clip at a time on a worker thread of their own, at a
// low priority, like the cue pool's; the window names the clips and gets
// the heads back on its own thread.

#include "engine/cue/ArmedStart.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace engine {

// What a head is read for: its clip from the key's start mark at the key's
// rate, at an output's rate and channels, this many frames long (the
// length HeadBudget's limits give).
struct HeadRequest {
  std::string path;
  int mark = 0;        // the start mark, in 10000ths of the clip's length
  double speed = 1.0;  // the key's rate
  int rate = 0;
  int channels = 0;
  int frames = 0;
};

// Window thread: the rate a window's output plays at before it has
// opened, as far as it can be known (the JACK server's); 0 if not.
int ExpectedOutputRate();

// Blocking: the head `request` asks for, ramped in where the mark starts
// inside the clip as the graph ramps such a start; null when the clip
// can't be decoded or is shorter than the head.
std::shared_ptr<const ClipHead> ReadClipHead(const HeadRequest& request);

// Window thread: reads the heads on the worker and calls `done` on
// `context`'s thread with them, in order (null where one could not be
// read), unless `context` is gone by then. A later call for the same
// context replaces one not started yet.
void ReadClipHeads(QObject* context, std::vector<HeadRequest> requests,
                   std::function<void(std::vector<std::shared_ptr<const ClipHead>>)> done);

}  // namespace engine
