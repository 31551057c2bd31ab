#include "FileIcons.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QFileInfo>
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QMutex>
#include <QStyle>

namespace platform {

namespace {

class NameOnlyIconProvider final : public QAbstractFileIconProvider {
 public:
  NameOnlyIconProvider() {
    QStyle* style = QApplication::style();
    computer_ = style->standardIcon(QStyle::SP_ComputerIcon);
    desktop_ = style->standardIcon(QStyle::SP_DesktopIcon);
    trashcan_ = style->standardIcon(QStyle::SP_TrashIcon);
    network_ = style->standardIcon(QStyle::SP_DriveNetIcon);
    drive_ = style->standardIcon(QStyle::SP_DriveHDIcon);
    folder_ = style->standardIcon(QStyle::SP_DirIcon);
    file_ = style->standardIcon(QStyle::SP_FileIcon);
  }

  QIcon icon(IconType type) const override {
    switch (type) {
      case Computer:
        return computer_;
      case Desktop:
        return desktop_;
      case Trashcan:
        return trashcan_;
      case Network:
        return network_;
      case Drive:
        return drive_;
      case Folder:
        return folder_;
      case File:
        return file_;
    }
    return file_;
  }

  QIcon icon(const QFileInfo& info) const override {
    if (info.isRoot()) return drive_;
    if (info.isDir()) return folder_;
    if (!info.isFile()) return file_;
    const QMimeType mime = TypeByName(info);
    const QMutexLocker lock(&mutex_);
    auto found = themed_.constFind(mime.name());
    if (found == themed_.constEnd())
      found = themed_.insert(
          mime.name(),
          QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName(), file_)));
    return *found;
  }

  QString type(const QFileInfo& info) const override {
    if (info.isRoot()) return QStringLiteral("Drive");
    if (info.isDir()) return QStringLiteral("Folder");
    if (!info.isFile()) return QStringLiteral("Special file");
    const QMimeType mime = TypeByName(info);
    return mime.comment().isEmpty() ? mime.name() : mime.comment();
  }

 private:
  // Only the name: no stat, no read.
  static QMimeType TypeByName(const QFileInfo& info) {
    const QMimeDatabase types;
    const QList<QMimeType> candidates = types.mimeTypesForFileName(info.fileName());
    return candidates.isEmpty() ? types.mimeTypeForName(QStringLiteral("application/octet-stream"))
                                : candidates.first();
  }

  QIcon computer_, desktop_, trashcan_, network_, drive_, folder_, file_;
  // Theme icons by type name; the theme lookup is not made for threads.
  mutable QMutex mutex_;
  mutable QHash<QString, QIcon> themed_;
};

}  // namespace

QAbstractFileIconProvider* FileIconsByName() {
  static auto* provider = new NameOnlyIconProvider;
  return provider;
}

}  // namespace platform
