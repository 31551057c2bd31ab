#pragma once
// The per-user settings store: a tree of keys ("Software\Tastivo\3") holding
// named integer and text values.
//
// Backed by an INI file under the XDG config folder
// ($XDG_CONFIG_HOME/Tastivo/Tastivo.ini). Each value keeps its kind across a
// restart: integers are written as "dword:<8 hex digits>", texts as
// "sz:<text>", so a text "5" never reads back as the integer 5. A value
// without either prefix (edited by hand) counts as text.

#include <QString>
#include <QtGlobal>

#include <memory>
#include <stdexcept>

class QSettings;

namespace platform {

// A read or write that the store refuses. Callers that follow the "first
// failure ends the reading" rule catch it around the whole sequence.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SettingsStore {
 public:
  SettingsStore();
  ~SettingsStore();
  Q_DISABLE_COPY(SettingsStore)

  // Opens a key; with canCreate the key (and its parents) is created when
  // missing. Returns false when the key does not exist and may not be created.
  // After a failed open every read fails.
  bool OpenKey(const QString& path, bool canCreate);
  bool OpenKeyReadOnly(const QString& path);
  // Writes pending values out. Throws SettingsError when the file can't be
  // written.
  void CloseKey();

  bool KeyExists(const QString& path) const;
  bool ValueExists(const QString& name) const;

  // Throws SettingsError when the value is missing or not an integer.
  int ReadInteger(const QString& name) const;
  // An integer read; any non-zero value is true.
  bool ReadBool(const QString& name) const;
  // A missing value reads as empty text; an integer value throws.
  QString ReadString(const QString& name) const;

  // Create or replace a value. Throw SettingsError when the key is not open
  // for writing or the store can't be written.
  void WriteInteger(const QString& name, int value);
  void WriteBool(const QString& name, bool value);
  void WriteString(const QString& name, const QString& value);

  // The file behind the store (for tests and the manual).
  static QString FilePath();

 private:
  QString Group(const QString& name) const;
  QString RawValue(const QString& name, bool* found) const;
  void RequireWritable() const;

  std::unique_ptr<QSettings> settings_;
  QString key_;  // '/'-separated group of the open key, empty when none
  bool open_ = false;
  bool writable_ = false;
};

// The key of a keyboard window's instance: "Software\Tastivo" for 0,
// "Software\Tastivo\<n>" otherwise.
QString InstanceKey(int instance);

constexpr const char* kRootKey = "Software\\Tastivo";

}  // namespace platform
