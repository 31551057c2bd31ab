#pragma once
// Where the keys of a piano keyboard control lie, for painting, hit-testing
// and inverting alike. Everything is derived from the size and properties at
// the moment of use; nothing is cached.

#include <QPoint>
#include <QRect>
#include <QString>

#include <vector>

namespace controls {

enum TKeyboardOrientation { kbHorizontal, kbVertical };

// The labels, by chromatic key index from the lowest key. The counter runs
// modulo 40, so the final "=" never shows.
inline constexpr char kKeyLabels[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-/*=";
inline constexpr int kKeyLabelCount = 40;

class KeyboardGeometry {
 public:
  KeyboardGeometry(TKeyboardOrientation orientation, int noteWidth, int baseOctave, int width,
                   int height);

  // A note split into its octave (from the lowest key), white index w (0 = C
  // .. 6 = B) and whether it is black. A black key carries the white index of
  // the white key below it.
  struct NoteSplit {
    int octave;
    int white;
    bool black;
  };

  // One black key or separator as the painter draws it, in control pixels.
  struct PaintItem {
    QPoint separatorFrom, separatorTo;  // both ends included
    bool hasBlack;
    QRect black;                    // filled and outlined, outline included
    QPoint whiteLabel, blackLabel;  // top-left of the label characters
    int whiteLabelIndex, blackLabelIndex;
  };

  int Length() const { return length_; }              // L, along the keyboard
  int Depth() const { return depth_; }                // D, across
  int BlackLength() const { return depth_ * 3 / 5; }  // BL
  int BlackWidth() const;                             // BW, always odd
  int HalfWidth() const { return BlackWidth() / 2; }  // H
  int NoteWidth() const { return noteWidth_; }

  // Offset of the black key above white key w (C −1, D +1, E 0, F −1, G 0, A +1, B 0).
  static int Offset(int white);
  // C, D, F, G and A carry a black key above them.
  static bool HasBlackAbove(int white);

  NoteSplit Split(int note) const;

  // The note under a point (may lie outside 0..127) and the velocity a mouse
  // press there gives.
  int NoteAtPoint(int x, int y, bool velocityMode, int* velocity) const;

  // The rectangles (left, top, width, height) whose pixels are inverted to
  // show the note pressed: one for a black key, front then back part for a
  // white key.
  std::vector<QRect> InvertRects(int note) const;

  // Separators and black keys in painting order (horizontal keyboards also
  // carry the label positions).
  std::vector<PaintItem> PaintItems() const;

 private:
  TKeyboardOrientation orientation_;
  int noteWidth_;
  int baseOctave_;
  int width_;
  int height_;
  int length_;
  int depth_;
};

}  // namespace controls
