#pragma once
// Answers the player's notices as a keyboard window does for its video
// window: shown when a clip has a picture, hidden when it has none.

#include "platform/WindowMessages.h"
#include "video/Video.h"

#include <QEvent>
#include <QObject>

#include <vector>

class Owner : public QObject {
 public:
  TVideo1* video = nullptr;
  std::vector<int> codes;  // the notices, in order

 protected:
  bool event(QEvent* event) override {
    auto* m = platform::AsWindowMessage(event);
    if (m == nullptr) return QObject::event(event);
    codes.push_back(static_cast<int>(m->LParam));
    if (m->LParam == platform::PN_VIDEO) {
      if (video->isVisible()) {
        video->FormHide();
        video->FormShow();
      } else {
        video->show();
      }
    } else if (m->LParam == platform::PN_NOVIDEO && video->isVisible()) {
      video->hide();
    }
    return true;
  }
};
