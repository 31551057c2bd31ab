#pragma once
// Where a key's time goes between the note and its first sound: each stage
// of the path stamps the monotonic clock as the key passes, and the window
// thread prints the last key's stamps as the next one arrives. Off unless
// $TASTIVO_KEY_TRACE is set; a stamp is one relaxed atomic store, safe on
// a real-time thread.

#include <atomic>
#include <cstdint>

namespace platform {

class KeyTrace {
 public:
  enum Stage {
    kNoteTaken,      // the MIDI system's thread took the note
    kNoteDelivered,  // the delivery thread hands it on
    kWindow,         // the window thread starts the dispatch
    kPlay,           // the player is told to play
    kPlaying,        // the dispatch is done
    kCommitted,      // the first sound is written into the output's ring
    kRead,           // the output's thread read the first sound
    kStages
  };

  static bool Enabled() { return enabled_; }
  // Any thread; a new note starts a new trace.
  static void Stamp(Stage stage);
  // Window thread: prints the last key's stamps, as times from its note.
  static void PrintLast();

 private:
  static const bool enabled_;
  static std::atomic<std::int64_t> stamps_[kStages];
};

}  // namespace platform
