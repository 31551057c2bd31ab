#pragma once
// What the remote may do to the program: the keyboard windows seen from
// outside. The program implements it over its windows; every call comes on
// the window thread and must return without waiting for the network.

#include <string>
#include <vector>

namespace remote {

struct WindowInfo {
  int window = 0;  // instance number
  int group = 0;
  // The set's file name, without its folder; empty for a set without a file.
  std::string setName;
  int keys = 0;
};

struct WindowState {
  int key = -1;  // the current key, -1 before the first
  std::string label;
  bool playing = false;
  double position = 0;  // seconds
  double length = 0;    // seconds
  bool operator==(const WindowState&) const = default;
};

struct KeyInfo {
  int key = 0;
  std::string label;
};

class RemoteTarget {
 public:
  virtual ~RemoteTarget() = default;
  virtual std::vector<WindowInfo> Windows() const = 0;
  // Exactly as a MIDI note on or off for the key: the window's group plays.
  virtual void Key(int window, int key, bool down) = 0;
  virtual void Play(int window) = 0;
  virtual void Stop(int window) = 0;
  virtual void SetLoop(int window, bool on) = 0;
  virtual void SetSustain(int window, bool on) = 0;
  // The bars' positions, as the remote's commands carry them.
  virtual void SetVolume(int window, int position) = 0;
  virtual void SetRate(int window, int position) = 0;
  // Loads the known list of that file name, with the set editor's save
  // question; false when the window knows no such list.
  virtual bool LoadSet(int window, const std::string& name) = 0;
  virtual WindowState State(int window) const = 0;
  // The keys of the window that have a clip, with their labels.
  virtual std::vector<KeyInfo> Keys(int window) const = 0;
};

struct RemoteCommand;
// Carries out a command that acts on a window (a key, the transport, the
// bars, a set); false for the others, which the server answers itself.
bool ApplyToTarget(RemoteTarget& target, const RemoteCommand& command);

}  // namespace remote
