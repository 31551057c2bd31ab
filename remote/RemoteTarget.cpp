#include "remote/RemoteTarget.h"

#include "remote/RemoteCommand.h"

namespace remote {

bool ApplyToTarget(RemoteTarget& target, const RemoteCommand& command) {
  const int w = command.window;
  switch (command.kind) {
    case CommandKind::kKey:
      target.Key(w, command.key, command.value != 0);
      return true;
    case CommandKind::kPlay:
      target.Play(w);
      return true;
    case CommandKind::kStop:
      target.Stop(w);
      return true;
    case CommandKind::kLoop:
      target.SetLoop(w, command.value != 0);
      return true;
    case CommandKind::kSustain:
      target.SetSustain(w, command.value != 0);
      return true;
    case CommandKind::kVolume:
      target.SetVolume(w, command.value);
      return true;
    case CommandKind::kRate:
      target.SetRate(w, command.value);
      return true;
    case CommandKind::kSet:
    case CommandKind::kWindows:
    case CommandKind::kSubscribe:
    case CommandKind::kUnsubscribe:
      return false;
  }
  return false;
}

}  // namespace remote
