#include "app/PlayRules.h"

#include <algorithm>

namespace app {

int ComputerKeyIndex(QChar typed) {
  const char16_t c = typed.unicode();
  if (c >= u'a' && c <= u'z') return c - u'a';
  if (c >= u'0' && c <= u'9') return 26 + (c - u'0');
  if (c >= u'A' && c <= u'Z') return 40 + (c - u'A');
  switch (c) {
    case u'+':
      return 36;
    case u'-':
      return 37;
    case u'/':
      return 38;
    case u'*':
      return 39;
    default:
      return -1;
  }
}

EndOfClip EndOfClipAction(bool playing, bool loop, bool sustain, bool keyHeld) {
  if (!playing) return EndOfClip::Nothing;
  if (loop) return (keyHeld || sustain) ? EndOfClip::Restart : EndOfClip::Nothing;
  return sustain ? EndOfClip::Stop : EndOfClip::Nothing;
}

int SetRateUntilExact(double rate, const std::function<void(double)>& setRate,
                      const std::function<double()>& getRate) {
  int attempts = 0;
  do {
    ++attempts;
    setRate(1.0);
    setRate(rate);
    // A player that never reports the exact rate would hold the window here
    // for good; after a few attempts its own answer stands.
  } while (getRate() != rate && attempts < kRateAttempts);
  return attempts;
}

double RateOfPosition(int position) {
  return position * 0.01;
}

QString RateHint(int position) {
  return QStringLiteral("Rate %1/100").arg(position);
}

QString VolumeHint(int position) {
  return QStringLiteral("Volume %1/100").arg(100 - position);
}

QString VideoCaptionFor(int instance, const QString& label) {
  QString caption = QStringLiteral("Tastivo ");
  if (instance != 0) caption += QString::number(instance);
  return caption + QStringLiteral(": ") + label;
}

QString WindowName(int instance) {
  return instance == 0 ? QStringLiteral("Tastivo") : QStringLiteral("Tastivo %1").arg(instance);
}

QRect HintRectAt(QSize textSize, QPoint cursor) {
  return QRect(QPoint(0, 0), textSize).translated(cursor + QPoint(10, 20));
}

bool StrictlyInside(const QRect& panel, QPoint point) {
  return panel.left() < point.x() && point.x() < panel.left() + panel.width() &&
         panel.top() < point.y() && point.y() < panel.top() + panel.height();
}

bool HeadWithinMarks(std::int64_t clipNs, int min, int max, std::int64_t headNs) {
  min = std::clamp(min, 0, 10000);
  max = std::clamp(max, 0, 10000);
  return clipNs > 0 && max > min && std::int64_t(max - min) * clipNs / 10000 >= headNs;
}

KeyVerdict KeyVerdictOf(const QString& file, const QString& problem, const QString& min,
                        const QString& max, const QString& rate) {
  if (file.isEmpty() || !problem.isEmpty()) return KeyVerdict::Silent;
  bool minOk = false, maxOk = false, rateOk = false;
  min.trimmed().toInt(&minOk);
  max.trimmed().toInt(&maxOk);
  rate.trimmed().toInt(&rateOk);
  return minOk && maxOk && rateOk ? KeyVerdict::Plays : KeyVerdict::Silent;
}

double KeyRateOf(const QString& rate) {
  return RateOfPosition(std::clamp(rate.trimmed().toInt(), 1, 300));
}

}  // namespace app
