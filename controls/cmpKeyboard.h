#pragma once
// TKeys: the on-screen piano keyboard. It turns mouse presses, drags and
// hovering into note events and shows notes pressed from elsewhere (computer
// keys, MIDI, other windows of the group) by inverting the key's face.

#include "controls/Colors.h"
#include "controls/KeyboardGeometry.h"
#include "controls/SetIfChanged.h"

#include <QBrush>
#include <QImage>
#include <QPen>
#include <QWidget>

#include <bitset>
#include <functional>

namespace controls {

// (Sender, note, velocity)
using TKeyboardNoteEvent = std::function<void(QObject* Sender, int note, int velocity)>;

class TKeys : public QWidget {
  Q_OBJECT
 public:
  explicit TKeys(QWidget* parent);

  TKeyboardOrientation Orientation() const { return orientation_; }
  void SetOrientation(TKeyboardOrientation value) { SetFace(orientation_, value); }
  int NoteWidth() const { return noteWidth_; }
  // Throws std::invalid_argument below 1 (a key needs at least one pixel).
  void SetNoteWidth(int value);
  int BaseOctave() const { return baseOctave_; }
  void SetBaseOctave(int value) { SetFace(baseOctave_, value); }
  bool VelocityMode() const { return velocityMode_; }
  void SetVelocityMode(bool value) { velocityMode_ = value; }
  bool AlphaNum() const { return alphaNum_; }
  void SetAlphaNum(bool value) { SetFace(alphaNum_, value); }

  // The control keeps its own copies; assigning copies the attributes.
  const QBrush& BlackBrush() const { return blackBrush_; }
  void SetBlackBrush(const QBrush& brush) { SetFace(blackBrush_, brush); }
  const QBrush& WhiteBrush() const { return whiteBrush_; }
  void SetWhiteBrush(const QBrush& brush) { SetFace(whiteBrush_, brush); }
  const QPen& Pen() const { return pen_; }
  void SetPen(const QPen& pen);

  // Shows a key pressed and raises OnNoteOn when notify is set, also when the
  // key was already down (then nothing is drawn).
  void NoteOn(int note, int velocity, bool notify);
  // Shows a key released and raises OnNoteOff(note, 0) when notify is set,
  // also when the key was not down.
  void NoteOff(int note, int velocity, bool notify);
  // The note under a point (may lie outside 0..127) and its press velocity.
  int NoteAtPoint(int x, int y, int* velocity) const;
  // Toggles the inverted look of one key.
  void InvertNote(int note);
  // The key that files dragged over the keyboard would land on, drawn
  // highlighted; -1 for none.
  int DropNote() const { return dropNote_; }
  void SetDropNote(int note);

  bool IsPressed(int note) const { return note >= 0 && note <= 127 && pressed_[note]; }
  int MouseNote() const { return mouseNote_; }
  int HoverNote() const { return hoverNote_; }
  KeyboardGeometry Geometry() const;

  // Handlers run on the window thread, inside the call that raised them.
  TKeyboardNoteEvent OnNoteOn;
  TKeyboardNoteEvent OnNoteOff;
  TKeyboardNoteEvent OnMouseOn;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // Stores a property of the face; it is redrawn only on a real change.
  template <typename T>
  void SetFace(T& field, const T& value) {
    if (SetIfChanged(field, value)) FaceChanged();
  }
  void FaceChanged();
  void RenderFace();
  bool Inside(QPoint point) const;

  TKeyboardOrientation orientation_ = kbHorizontal;
  int noteWidth_ = 10;
  int baseOctave_ = 3;
  bool velocityMode_ = true;
  bool alphaNum_ = false;
  QBrush blackBrush_{QColor(0, 0, 0)};
  QBrush whiteBrush_{QColor(255, 255, 255)};
  QPen pen_{QColor(0, 0, 0)};
  std::bitset<128> pressed_;
  int mouseNote_ = -1;
  int hoverNote_ = -1;
  int dropNote_ = -1;
  QImage face_;  // every key released; held keys are inverted over it
  bool faceValid_ = false;
};

}  // namespace controls
