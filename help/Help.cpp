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

#ifndef TASTIVO_VERSION
#define TASTIVO_VERSION "unknown"
#endif

QPoint CentredTopLeft(const QRect& area, const QSize& size) {
  return {area.left() + (area.width() - size.width()) / 2,
          area.top() + (area.height() - size.height()) / 2};
}

THelp1::THelp1(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QStringLiteral("Help"));
  setFixedSize(kWidth, kHeight);
  // Modal for its owner only: the manual opened from it is a window of its
  // own, and must take input while this one is up.
  setWindowModality(Qt::WindowModal);

  Title = new QLabel(QStringLiteral("Tastivo"), this);
  QFont titleFont = Title->font();
  titleFont.setPointSize(22);
  titleFont.setBold(true);
  Title->setFont(titleFont);
  Title->setAlignment(Qt::AlignCenter);

  Subtitle = new QLabel(QStringLiteral("MultiMedia player"), this);
  Subtitle->setAlignment(Qt::AlignCenter);

  Version = new QLabel(QStringLiteral("Version " TASTIVO_VERSION), this);
  Version->setAlignment(Qt::AlignCenter);

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
  layout->addWidget(Version);
  layout->addStretch();
  layout->addLayout(buttons);

  QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen) move(CentredTopLeft(screen->geometry(), size()));
}

void THelp1::OkClick() {
  accept();
}

void THelp1::HelpClick() {
  if (!HtmlHelpLoaded()) return;
  // Owned by the desktop, as with F1: the manual outlives this window.
  HtmlHelp(nullptr, platform::Application::HelpFile(), HH_DISPLAY_TOPIC, 0);
}
