#include "editor/Edit.h"

#include "sets/Prop.h"

#include <QFormLayout>
#include <QShowEvent>

TEdit1* Edit1 = nullptr;

TEdit1::TEdit1(QWidget* parent) : QWidget(parent, Qt::Window) {
  auto* form = new QFormLayout(this);
  Label = new QLineEdit(QStringLiteral("Label"), this);
  SFil = new QLineEdit(this);
  Min = new QLineEdit(QStringLiteral("0"), this);
  Max = new QLineEdit(QStringLiteral("10000"), this);
  Rate = new QLineEdit(QStringLiteral("100"), this);
  Stv = new TStandInFolderTree(this);
  form->addRow(QStringLiteral("Label"), Label);
  form->addRow(QStringLiteral("File"), SFil);
  form->addRow(QStringLiteral("Min"), Min);
  form->addRow(QStringLiteral("Max"), Max);
  form->addRow(QStringLiteral("Rate"), Rate);
  for (QLineEdit* box : {Label, SFil, Min, Max, Rate}) box->setReadOnly(true);
  resize(718, 438);
  setWindowTitle(QStringLiteral("Multimedia player"));
}

void TEdit1::SetTuning(TTuning* tuning) {
  tuning_ = static_cast<QObject*>(tuning);
}

TTuning* TEdit1::Tuning() const {
  return static_cast<TTuning*>(tuning_.data());
}

void TEdit1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TEdit1::FormShow() {
  auto* tuning = qobject_cast<QWidget*>(tuning_.data());
  setEditorMode_ = tuning && tuning->isVisible();
  for (QWidget* box :
       {static_cast<QWidget*>(Label), static_cast<QWidget*>(SFil), static_cast<QWidget*>(Min),
        static_cast<QWidget*>(Max), static_cast<QWidget*>(Rate)})
    box->setVisible(setEditorMode_);
  setWindowTitle(setEditorMode_ ? QStringLiteral("Set Editor")
                                : QStringLiteral("Multimedia player"));
}
