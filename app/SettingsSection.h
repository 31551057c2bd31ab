#pragma once
// A section of the Options page that shows some of the program's settings
// and writes them back as soon as one is edited. It reads them again each
// time it is shown: another window's page may have changed them meanwhile.

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QWidget>

#include <initializer_list>

namespace app {

class SettingsSection : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  virtual void Load() = 0;
  virtual void Store() = 0;

  // The section's bold heading, across `columns` of the grid's next row.
  void AddHeading(QGridLayout* grid, int& row, const QString& text, int columns) {
    auto* heading = new QLabel(text, this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    grid->addWidget(heading, row++, 0, 1, columns);
  }

  // Writes the settings back when a box is ticked or a field's edit ends.
  void StoreOnEdit(std::initializer_list<QWidget*> controls) {
    for (QWidget* control : controls) {
      if (auto* box = qobject_cast<QCheckBox*>(control))
        connect(box, &QCheckBox::clicked, this, [this] { Store(); });
      else if (auto* spin = qobject_cast<QSpinBox*>(control)) {
        connect(spin, &QSpinBox::editingFinished, this, [this] { Store(); });
        // A wheel turned over the page scrolls it: it changes a number (a
        // port, a group) only in the box the user clicked into.
        spin->setFocusPolicy(Qt::StrongFocus);
        spin->installEventFilter(this);
      } else if (auto* line = qobject_cast<QLineEdit*>(control))
        connect(line, &QLineEdit::editingFinished, this, [this] { Store(); });
    }
  }

  void showEvent(QShowEvent* event) override {
    Load();
    QWidget::showEvent(event);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Wheel && watched->isWidgetType() &&
        !static_cast<QWidget*>(watched)->hasFocus()) {
      event->ignore();  // on to the page
      return true;
    }
    return QWidget::eventFilter(watched, event);
  }
};

}  // namespace app
