#include "platform/ui.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <cmath>

#include "platform/application.h"

namespace platform {

namespace {
constexpr double kTwipsPerInch = 1440.0;
constexpr double kDefaultDpi = 96.0;
constexpr double kTextPointSize = 9.0;
constexpr double kButtonPointSize = 11.25;
}  // namespace

void DoEvents() { QCoreApplication::processEvents(); }

void YieldWhileWaiting() {
  DoEvents();
  if (Application::current().ending()) throw ProgramEnding{};
}

int TwipsToPixels(int twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

int TwipsToPixels(int twips) {
  QScreen* screen = QGuiApplication::primaryScreen();
  return TwipsToPixels(twips, screen ? screen->logicalDotsPerInch() : kDefaultDpi);
}

QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
               TwipsToPixels(height));
}

QFont TextFont(bool bold) {
  QFont f(QStringLiteral("Arial"));
  f.setPointSizeF(kTextPointSize);
  f.setBold(bold);
  return f;
}

QFont ButtonFont() {
  QFont f(QStringLiteral("Arial"));
  f.setPointSizeF(kButtonPointSize);
  f.setBold(true);
  return f;
}

void MakeFixedWindow(QWidget& window, int clientWidthTwips, int clientHeightTwips) {
  window.setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                        Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                        Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
  window.setFixedSize(TwipsToPixels(clientWidthTwips), TwipsToPixels(clientHeightTwips));
}

void CentreOnScreen(QWidget& window) {
  QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect area = screen->availableGeometry();
  QRect frame = window.frameGeometry();
  window.move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
}

void SetBackground(QWidget& widget, const QColor& colour) {
  QPalette p = widget.palette();
  // Buttons (option buttons, check boxes) fill with the button role, the others with the window.
  p.setColor(widget.backgroundRole(), colour);
  widget.setPalette(p);
  widget.setAutoFillBackground(true);
}

QColor Background(const QWidget& widget) { return widget.palette().color(widget.backgroundRole()); }

QColor ButtonFaceColour() { return QApplication::palette().color(QPalette::Button); }

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left, int top,
                        int width, int height) {
  auto* b =
      Place(new QPushButton(QString::fromUtf8(caption), parent), name, left, top, width, height);
  b->setFont(ButtonFont());
  b->setAutoDefault(false);
  return b;
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const char* caption, int left, int top,
                     int width, int height) {
  auto* f =
      Place(new QGroupBox(QString::fromUtf8(caption), parent), name, left, top, width, height);
  f->setFont(TextFont(true));
  return f;
}

}  // namespace platform
