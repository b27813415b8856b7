// Small helpers every window shares: yielding to pending events, twips, the program's fonts and
// the fixed-border window look.
#pragma once

#include <QFont>
#include <QLatin1String>
#include <QRect>
#include <QWidget>

class QGroupBox;
class QPushButton;

namespace platform {

// Lets pending window events run once (repaints, clicks), so long loops keep the window live.
// Only window code calls this; engine and data access report progress through callbacks.
void DoEvents();

// Thrown by YieldWhileWaiting once the program is ending. The statement that was waiting on the
// server is abandoned and its connection closed; the window's handler ends without a report.
struct ProgramEnding {};
// The waiting callback window code hands a database connection (ado::Connection::setWaiting),
// so the window answers while the server works on a statement: DoEvents, then ProgramEnding
// once the program is ending.
void YieldWhileWaiting();

// 1440 twips per inch at the screen's logical DPI (15 twips per pixel at 96 DPI).
int TwipsToPixels(int twips, double dpi);
int TwipsToPixels(int twips);  // at the primary screen's logical DPI
QRect TwipsRect(int left, int top, int width, int height);

// Names a control (its objectName, which tests find it by) and places it in twips.
template <class W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QLatin1String(name));
  widget->setGeometry(TwipsRect(left, top, width, height));
  return widget;
}
// A push button with the button font that never acts as the window's default button.
QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left, int top,
                        int width, int height);
// A frame with the bold text font.
QGroupBox* MakeFrame(QWidget* parent, const char* name, const char* caption, int left, int top,
                     int width, int height);

// Arial 9 pt (Liberation Sans where Arial is absent), bold or not; button captions 11.25 pt bold.
QFont TextFont(bool bold);
QFont ButtonFont();

// A fixed single border, a minimise but no maximise button, the client area of the given twips.
void MakeFixedWindow(QWidget& window, int clientWidthTwips, int clientHeightTwips);
// Places the window in the centre of its screen's available area.
void CentreOnScreen(QWidget& window);
// Sets the background of one widget (window, frame, label, option button).
void SetBackground(QWidget& widget, const QColor& colour);
// The colour the widget's background is filled with.
QColor Background(const QWidget& widget);
// The system colour of 3-D faces (button face).
QColor ButtonFaceColour();

}  // namespace platform
