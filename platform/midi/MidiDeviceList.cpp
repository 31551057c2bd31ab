#include "platform/midi/MidiDeviceList.h"

#include <QComboBox>
#include <QObject>

namespace platform {

namespace {

constexpr const char* kChoiceProperty = "tastivoMidiChoice";

QString KeyOf(const MidiInputPort& port) {
  return QString::fromStdString(MidiPortKey(port.id));
}

// Remembers what the user picks, from the first fill of the box on.
void WatchUserChoice(QComboBox* box) {
  if (box->property("tastivoMidiWatched").toBool()) return;
  box->setProperty("tastivoMidiWatched", true);
  QObject::connect(box, &QComboBox::activated, box, [box](int index) {
    box->setProperty(kChoiceProperty, box->itemData(index).toString());
  });
}

}  // namespace

void FillMidiDeviceList(QComboBox* box, const std::vector<MidiInputPort>& ports) {
  WatchUserChoice(box);
  const QString before = box->currentData().toString();
  box->clear();
  for (const MidiInputPort& port : ports)
    box->addItem(QString::fromStdString(port.label), KeyOf(port));
  int index = -1;
  for (const QString& key : {box->property(kChoiceProperty).toString(), before})
    if (index < 0 && !key.isEmpty()) index = box->findData(key);
  if (index < 0) index = DefaultMidiPortIndex(ports);
  box->setCurrentIndex(index);
}

void ChooseMidiDevice(QComboBox* box, const QString& key) {
  WatchUserChoice(box);
  box->setProperty(kChoiceProperty, key);
  const int index = key.isEmpty() ? -1 : box->findData(key);
  if (index >= 0) box->setCurrentIndex(index);
}

QString ChosenMidiDeviceKey(const QComboBox* box) {
  const QString kept = box->property(kChoiceProperty).toString();
  return kept.isEmpty() ? box->currentData().toString() : kept;
}

MidiPortId SelectedMidiDevice(const QComboBox* box) {
  return ParseMidiPortKey(box->currentData().toString().toStdString()).value_or(MidiPortId{});
}

}  // namespace platform
