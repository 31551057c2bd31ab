#include "help/Help.h"

#include "help/Hh.h"
#include "platform/Application.h"

#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

QPoint CentredTopLeft(const QRect& area, const QSize& size) {
  return {area.left() + (area.width() - size.width()) / 2,
          area.top() + (area.height() - size.height()) / 2};
}

THelp1::THelp1(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QStringLiteral("Help"));
  setFixedSize(kWidth, kHeight);
  setModal(true);

  Title = new QLabel(QStringLiteral("Tastivo"), this);
  QFont titleFont = Title->font();
  titleFont.setPointSize(22);
  titleFont.setBold(true);
  Title->setFont(titleFont);
  Title->setAlignment(Qt::AlignCenter);

  Subtitle = new QLabel(QStringLiteral("MultiMedia player"), this);
  Subtitle->setAlignment(Qt::AlignCenter);

  OkButton = new QPushButton(QStringLiteral("Ok"), this);
  OkButton->setDefault(true);
  HelpButton = new QPushButton(QStringLiteral("Help"), this);
  connect(OkButton, &QPushButton::clicked, this, &THelp1::OkClick);
  connect(HelpButton, &QPushButton::clicked, this, &THelp1::HelpClick);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OkButton);
  buttons->addWidget(HelpButton);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addStretch();
  layout->addWidget(Title);
  layout->addWidget(Subtitle);
  layout->addStretch();
  layout->addLayout(buttons);

  QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen) move(CentredTopLeft(screen->geometry(), size()));
}

THelp1::~THelp1() {
  if (HtmlHelpLoaded()) HtmlHelp(nullptr, QString(), HH_CLOSE_ALL, 0);
}

void THelp1::OkClick() {
  accept();
}

void THelp1::HelpClick() {
  if (!HtmlHelpLoaded()) return;
  // The viewer belongs to this window rather than to the desktop: this
  // window is modal, and a window outside it could not be used until it
  // closed, which would also close the viewer.
  HtmlHelp(this, platform::Application::HelpFile(), HH_DISPLAY_TOPIC, 0);
}
