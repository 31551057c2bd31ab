#include "controls/Colors.h"

#include <QGuiApplication>
#include <QPalette>

namespace controls {

QColor ToQColor(TColor color) {
  if (color & kSystemColorFlag) {
    const QPalette palette = QGuiApplication::palette();
    switch (color) {
      case kColorButtonShadow:
        return palette.color(QPalette::Dark);
      case kColorButtonHighlight:
        return palette.color(QPalette::Light);
      default:
        return palette.color(QPalette::Button);
    }
  }
  return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

TColor FromQColor(const QColor& color) {
  return TColor(color.red()) | (TColor(color.green()) << 8) | (TColor(color.blue()) << 16);
}

}  // namespace controls
