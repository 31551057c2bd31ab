#pragma once
// The rules a keyboard window plays by, free of widgets: which computer key
// plays which key, what happens when a clip reaches its stop mark, how the
// rate is set, and the texts and places of the window's hints.

#include <QPoint>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>

namespace app {

// The key index a typed character plays: "a".."z" 0..25, "0".."9" 26..35,
// "+" 36, "-" 37, "/" 38, "*" 39, "A".."Z" 40..65; -1 for anything else
// (the space bar stops instead of playing).
int ComputerKeyIndex(QChar typed);

// What a press of a key with a row does by the window's rules, read from
// the row alone: no clip, a clip not found when the set was loaded
// (`problem`), or a mark or rate that is not a number plays nothing (the
// key says why when pressed).
enum class KeyVerdict { Silent, Plays };
KeyVerdict KeyVerdictOf(const QString& file, const QString& problem, const QString& min,
                        const QString& max, const QString& rate);
// The rate a row that plays is played at, as its window's rate bar sets it
// (the bar holds 1..300): its head is read at that rate.
double KeyRateOf(const QString& rate);

// A key's head (the first `headNs` of its clip from its start mark, which
// sounds whole unless the graph takes over earlier) ends before the key's
// stop mark; marks in 10000ths of a clip `clipNs` long (0: not known).
bool HeadWithinMarks(std::int64_t clipNs, int min, int max, std::int64_t headNs);

// What a window does when its clip reaches the stop mark.
enum class EndOfClip { Nothing, Restart, Stop };

// Loop restarts the clip while the key is held or Sustain is ticked; without
// Loop, Sustain stops it; otherwise the clip rests silent at its end. Only a
// playing clip is acted on.
EndOfClip EndOfClipAction(bool playing, bool loop, bool sustain, bool keyHeld);

// How often the rate is set before the player's answer is taken as it is.
inline constexpr int kRateAttempts = 8;

// Sets the rate through setRate(1.0) then setRate(rate) until getRate()
// answers exactly rate, at most kRateAttempts times. Errors of either call
// go to the caller. Returns the number of attempts made.
int SetRateUntilExact(double rate, const std::function<void(double)>& setRate,
                      const std::function<double()>& getRate);

// The rate bar's position as a rate: 100 is normal speed.
double RateOfPosition(int position);
// "Rate 100/100".
QString RateHint(int position);
// "Volume 70/100" for position 30: the bar's top is full volume.
QString VolumeHint(int position);

// "Tastivo : label" for the first window, "Tastivo 3: label" for window 3.
QString VideoCaptionFor(int instance, const QString& label);

// The title of keyboard window n in the task bar: "Tastivo", "Tastivo 1", …
// Also the name of its sound output.
QString WindowName(int instance);

// The rectangle a hint of size textSize takes beside the mouse cursor.
QRect HintRectAt(QSize textSize, QPoint cursor);
// Strictly inside, edges excluded: the hint stays only while the mouse is
// over the keyboard itself.
bool StrictlyInside(const QRect& panel, QPoint point);

// Hundredths of a second of a media time in units of 100 ns.
inline long long Hundredths(long long mediaTime) {
  return mediaTime / 100000;
}

}  // namespace app
