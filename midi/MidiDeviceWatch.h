#pragma once
// Notices when the source of a window's MIDI input goes away (a USB keyboard
// pulled out, its JACK port or the JACK server gone) and when it comes back,
// from one look per tick of the window's one-second timer. It also holds the
// short notice the window shows about it.
//
// It lives as a child object of the window it watches for, so it goes with
// the window; Of() finds it or makes it.

#include <QObject>
#include <QString>

namespace midi {

class MidiDeviceWatch : public QObject {
 public:
  enum class Change { kNone, kLost, kReturned };

  // Ticks a notice stays up: a few seconds, long enough to be read.
  static constexpr int kNoticeTicks = 4;

  explicit MidiDeviceWatch(QObject* window) : QObject(window) {
    setObjectName(QStringLiteral("MidiDeviceWatch"));
  }

  static MidiDeviceWatch* Of(QObject* window) {
    // Found by name: the class has no meta-object of its own to cast by, and
    // only this class makes children of that name.
    QObject* found =
        window->findChild<QObject*>(QStringLiteral("MidiDeviceWatch"), Qt::FindDirectChildrenOnly);
    return found ? static_cast<MidiDeviceWatch*>(found) : new MidiDeviceWatch(window);
  }

  // Input was switched on or off: whatever was lost is forgotten.
  void Reset() { lost_ = false; }

  // One look: whether the source is there now. Each loss and each return is
  // reported once.
  Change Look(bool present) {
    if (!lost_ && !present) {
      lost_ = true;
      return Change::kLost;
    }
    if (lost_ && present) {
      lost_ = false;
      return Change::kReturned;
    }
    return Change::kNone;
  }
  // A return that could not be reopened counts as still lost.
  void StillLost() { lost_ = true; }
  bool Lost() const { return lost_; }

  void Say(const QString& text) {
    notice_ = text;
    noticeTicks_ = kNoticeTicks;
  }
  // The notice to show at this tick, or an empty text once it has run out;
  // *ended is set at the first tick after it ran out, when what it covered
  // is to be shown again.
  QString NoticeForTick(bool* ended) {
    *ended = false;
    if (noticeTicks_ <= 0) {
      *ended = !notice_.isEmpty();
      notice_.clear();
      return {};
    }
    --noticeTicks_;
    return notice_;
  }
  bool NoticeShowing() const { return noticeTicks_ > 0; }

 private:
  bool lost_ = false;
  QString notice_;
  int noticeTicks_ = 0;
};

}  // namespace midi
