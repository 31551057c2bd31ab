#include "SettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace platform {

namespace {

constexpr const char* kIntPrefix = "dword:";
constexpr const char* kTextPrefix = "sz:";

QString ToGroup(const QString& path) {
  QString group = path;
  group.replace('\\', '/');
  while (group.startsWith('/')) group.remove(0, 1);
  while (group.endsWith('/')) group.chop(1);
  return group;
}

}  // namespace

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(FilePath(), QSettings::IniFormat)) {}

SettingsStore::~SettingsStore() {
  try {
    CloseKey();
  } catch (const SettingsError&) {
    // Nothing to report from a destructor; the caller's CloseKey() reports.
  }
}

QString SettingsStore::FilePath() {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return QDir(base).filePath("Tastivo/Tastivo.ini");
}

bool SettingsStore::KeyExists(const QString& path) const {
  const QString group = ToGroup(path);
  settings_->beginGroup(group);
  const bool exists = !settings_->childKeys().isEmpty() || !settings_->childGroups().isEmpty();
  settings_->endGroup();
  return exists;
}

bool SettingsStore::OpenKey(const QString& path, bool canCreate) {
  CloseKey();
  key_ = ToGroup(path);
  open_ = canCreate || KeyExists(path);
  writable_ = canCreate;
  return open_;
}

bool SettingsStore::OpenKeyReadOnly(const QString& path) {
  CloseKey();
  key_ = ToGroup(path);
  open_ = KeyExists(path);
  writable_ = false;
  return open_;
}

void SettingsStore::CloseKey() {
  const bool wrote = writable_;
  open_ = false;
  writable_ = false;
  if (!wrote) return;
  settings_->sync();
  if (settings_->status() != QSettings::NoError)
    throw SettingsError("Failed to write the settings file " + FilePath().toStdString());
}

QString SettingsStore::Group(const QString& name) const {
  return key_ + "/" + name;
}

QString SettingsStore::RawValue(const QString& name, bool* found) const {
  *found = false;
  if (!open_) return {};
  const QVariant value = settings_->value(Group(name));
  if (!value.isValid()) return {};
  *found = true;
  return value.toString();
}

bool SettingsStore::ValueExists(const QString& name) const {
  bool found = false;
  RawValue(name, &found);
  return found;
}

int SettingsStore::ReadInteger(const QString& name) const {
  bool found = false;
  const QString raw = RawValue(name, &found);
  if (!found) throw SettingsError("Invalid data type for '" + name.toStdString() + "'");
  bool ok = false;
  const uint value = raw.startsWith(kIntPrefix) ? raw.mid(6).toUInt(&ok, 16) : 0;
  if (!ok) throw SettingsError("Invalid data type for '" + name.toStdString() + "'");
  return static_cast<int>(value);
}

bool SettingsStore::ReadBool(const QString& name) const {
  return ReadInteger(name) != 0;
}

QString SettingsStore::ReadString(const QString& name) const {
  bool found = false;
  const QString raw = RawValue(name, &found);
  if (!found) return {};
  if (raw.startsWith(kIntPrefix))
    throw SettingsError("Invalid data type for '" + name.toStdString() + "'");
  if (raw.startsWith(kTextPrefix)) return raw.mid(3);
  return raw;
}

void SettingsStore::RequireWritable() const {
  if (!open_ || !writable_)
    throw SettingsError("Failed to set data: the key is not open for writing");
  if (!settings_->isWritable())
    throw SettingsError("Failed to write the settings file " + FilePath().toStdString());
}

void SettingsStore::WriteInteger(const QString& name, int value) {
  RequireWritable();
  settings_->setValue(Group(name),
                      kIntPrefix + QString("%1").arg(static_cast<uint>(value), 8, 16, QChar('0')));
}

void SettingsStore::WriteBool(const QString& name, bool value) {
  WriteInteger(name, value ? 1 : 0);
}

void SettingsStore::WriteString(const QString& name, const QString& value) {
  RequireWritable();
  settings_->setValue(Group(name), kTextPrefix + value);
}

QString InstanceKey(int instance) {
  if (instance == 0) return kRootKey;
  return QString(kRootKey) + "\\" + QString::number(instance);
}

}  // namespace platform
