#include "editor/KeyEditRules.h"

#include "sets/KeySet.h"

#include <QStringList>

#include <algorithm>
#include <climits>

namespace keyedit {

namespace {

// Applies the checks in their fixed order: integer, empty, range.
QString Correct(const QString& text, const QString& fallback, int low, const QString& lowText,
                int high, const QString& highText) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok) return fallback;
  if (text.trimmed().isEmpty()) return fallback;
  if (value < low) return lowText;
  if (value > high) return highText;
  return text;
}

bool HasDrive(const QString& path) {
  return path.size() >= 2 && path.at(1) == ':' && path.at(0).isLetter();
}

}  // namespace

QString CorrectMin(const QString& text) {
  return Correct(text, QStringLiteral("0"), 0, QStringLiteral("0"), INT_MAX, {});
}

QString CorrectMax(const QString& text) {
  return Correct(text, QStringLiteral("10000"), INT_MIN, {}, 10000, QStringLiteral("10000"));
}

QString CorrectRate(const QString& text) {
  return Correct(text, QStringLiteral("100"), 1, QStringLiteral("1"), 300, QStringLiteral("300"));
}

QString ExtensionOf(const QString& name) {
  const qsizetype dot = name.lastIndexOf('.');
  return dot < 0 ? QString() : name.mid(dot);
}

bool EntersLikeFolder(const QString& name) {
  const QString extension = ExtensionOf(name);
  return extension.isEmpty() || extension == QStringLiteral(".zip");
}

QString RelativeToProgram(const QString& file, const QString& programFolder) {
  QString target = file;
  QString base = programFolder;
  target.replace('/', '\\');
  base.replace('/', '\\');
  const bool targetDrive = HasDrive(target);
  const bool baseDrive = HasDrive(base);
  if (targetDrive != baseDrive || (targetDrive && target.at(0).toUpper() != base.at(0).toUpper()))
    return target;
  const Qt::CaseSensitivity folderCase = targetDrive ? Qt::CaseInsensitive : Qt::CaseSensitive;
  if (targetDrive) {
    target.remove(0, 2);
    base.remove(0, 2);
  }
  QStringList targetParts = target.split('\\', Qt::SkipEmptyParts);
  const QStringList baseParts = base.split('\\', Qt::SkipEmptyParts);
  if (targetParts.isEmpty()) return file;
  const QString name = targetParts.takeLast();
  qsizetype shared = 0;
  while (shared < targetParts.size() && shared < baseParts.size() &&
         targetParts[shared].compare(baseParts[shared], folderCase) == 0)
    ++shared;
  QString relative;
  for (qsizetype i = shared; i < baseParts.size(); ++i) relative += QStringLiteral("..\\");
  for (qsizetype i = shared; i < targetParts.size(); ++i) relative += targetParts[i] + '\\';
  return relative + name;
}

QString UpOneLevel(const QString& path) {
  const qsizetype cut = std::max(path.lastIndexOf('\\'), path.lastIndexOf('/'));
  if (cut < 0) return path;
  return path.left(cut + 1);
}

void StoreAddedClip(KeySet& set, int row, const QString& file) {
  set.SetCell(row, kFileColumn, file);
  set.SetCell(row, kMinColumn, QString::fromLatin1(kDefaultMin));
  set.SetCell(row, kMaxColumn, QString::fromLatin1(kDefaultMax));
  set.SetCell(row, kRateColumn, QString::fromLatin1(kDefaultRate));
}

ToolPanelPlaces PlaceToolPanel(int width, bool withBoxes) {
  constexpr int kGap = 4, kLabelX = 76, kLabel = 120, kFile = 150, kNumber = 42, kPlayer = 220;
  constexpr int kNarrowest = 60, kPlayerX = 73;
  const int natural =
      withBoxes ? kLabelX + kLabel + kFile + 3 * kNumber + 5 * kGap + kPlayer : kPlayerX + kPlayer;
  int deficit = std::max(0, natural - width);
  auto giveUp = [&deficit](int size) {
    const int given = std::min(deficit, size - kNarrowest);
    deficit -= given;
    return size - given;
  };
  ToolPanelPlaces p{};
  p.labelX = kLabelX;
  if (withBoxes) {
    p.fileWidth = giveUp(kFile);
    p.labelWidth = giveUp(kLabel);
  } else {
    p.fileWidth = kFile;
    p.labelWidth = kLabel;
  }
  p.playerWidth = giveUp(kPlayer);
  p.fileX = p.labelX + p.labelWidth + kGap;
  p.minX = p.fileX + p.fileWidth + kGap;
  p.maxX = p.minX + kNumber + kGap;
  p.rateX = p.maxX + kNumber + kGap;
  p.playerX = withBoxes ? p.rateX + kNumber + kGap : kPlayerX;
  return p;
}

}  // namespace keyedit
