#pragma once
// A keyboard window's places as the settings store holds them under `key`:
// ftop, fleft, mtop and mleft, in that order (zeros when the key is
// missing).

#include "platform/SettingsStore.h"

#include <QString>

#include <array>

inline std::array<int, 4> StoredPlaces(const QString& key) {
  platform::SettingsStore store;
  if (!store.OpenKey(key, false)) return {};
  return {store.ReadInteger("ftop"), store.ReadInteger("fleft"), store.ReadInteger("mtop"),
          store.ReadInteger("mleft")};
}
