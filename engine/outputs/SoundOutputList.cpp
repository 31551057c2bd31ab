#include "engine/outputs/SoundOutputList.h"

#include <utility>

namespace engine {

namespace {
constexpr const char* kPrefixes[] = {"", "jack:", "pulse:", "alsa:"};
}  // namespace

std::string SoundOutputKey(SoundOutputKind kind, const std::string& device) {
  if (kind == SoundOutputKind::Default) return {};
  return kPrefixes[int(kind)] + device;
}

SoundOutputKind KindOfSoundOutput(const std::string& key) {
  for (int k = 1; k < 4; ++k)
    if (key.rfind(kPrefixes[k], 0) == 0) return SoundOutputKind(k);
  return SoundOutputKind::Default;
}

std::string DeviceOfSoundOutput(const std::string& key) {
  const SoundOutputKind kind = KindOfSoundOutput(key);
  if (kind == SoundOutputKind::Default) return {};
  return key.substr(std::char_traits<char>::length(kPrefixes[int(kind)]));
}

std::vector<SoundOutput> SoundOutputEntries(const std::vector<SoundOutput>& present,
                                            const std::string& stored) {
  std::vector<SoundOutput> entries{{"", "Default", true}};
  bool storedPresent = stored.empty();
  for (const SoundOutput& o : present) {
    if (o.Key.empty() || SoundOutputIndex(entries, o.Key) != 0) continue;
    entries.push_back(o);
    storedPresent = storedPresent || o.Key == stored;
  }
  if (!storedPresent && KindOfSoundOutput(stored) != SoundOutputKind::Default)
    entries.push_back({stored, DeviceOfSoundOutput(stored) + " (not present)", false});
  return entries;
}

int SoundOutputIndex(const std::vector<SoundOutput>& entries, const std::string& key) {
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (entries[i].Key == key) return int(i);
  return 0;
}

void OutputRoute::Choose(const std::string& key, const std::string& label) {
  chosen_ = key;
  // Told in a caption bar: the device's own name, without its kind.
  const auto kind = label.find(": ");
  label_ = label.empty()               ? DeviceOfSoundOutput(key)
           : kind == std::string::npos ? label
                                       : label.substr(kind + 2);
  fellBack_ = false;
  notice_.clear();
}

void OutputRoute::ChosenOpened(bool opened, const std::string& detail) {
  if (chosen_.empty()) return;
  if (!opened && !fellBack_) {
    fellBack_ = true;
    notice_ = "\"" + label_ + "\" is missing" + (detail.empty() ? "" : " (" + detail + ")") +
              ": this window plays through the default output until it is back.";
  } else if (opened && fellBack_) {
    fellBack_ = false;
    notice_ = "\"" + label_ + "\" is back: this window plays through it again.";
  }
}

void OutputRoute::ChosenLost(const std::string& detail) {
  ChosenOpened(false, detail);
}

std::string OutputRoute::TakeNotice() {
  return std::exchange(notice_, {});
}

}  // namespace engine
