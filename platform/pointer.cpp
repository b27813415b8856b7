#include "platform/pointer.h"

#include <QEvent>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QWidget>

#include "platform/application.h"
#include "platform/error_trap.h"
#include "platform/main_module.h"
#include "vfp/bytes.h"

namespace platform {

namespace {

// Cursor file layout: a 6-byte directory header, then 16-byte entries.
constexpr int kHeaderSize = 6;
constexpr int kEntrySize = 16;
constexpr int kTypeOffset = 2;
constexpr int kCountOffset = 4;
constexpr int kHotXOffset = kHeaderSize + 4;
constexpr int kHotYOffset = kHeaderSize + 6;
constexpr quint16 kCursorType = 2;

quint16 readLe16(const QByteArray& b, int at) {
  return vfp::bytes::le16(reinterpret_cast<const std::uint8_t*>(b.constData() + at));
}

}  // namespace

QPoint CursorFileHotSpot(const QByteArray& bytes) {
  if (bytes.size() < kHeaderSize + kEntrySize || readLe16(bytes, 0) != 0 ||
      readLe16(bytes, kTypeOffset) != kCursorType || readLe16(bytes, kCountOffset) == 0) {
    throw Error(QStringLiteral("Invalid picture"));
  }
  return QPoint(readLe16(bytes, kHotXOffset), readLe16(bytes, kHotYOffset));
}

QCursor LoadCursorFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw Error(QStringLiteral("File not found: ") + path);
  }
  QByteArray bytes = file.readAll();
  QPoint hot = CursorFileHotSpot(bytes);
  QImage image;
  if (!image.loadFromData(bytes, "CUR") || image.isNull()) {
    throw Error(QStringLiteral("Invalid picture"));
  }
  return QCursor(QPixmap::fromImage(image), hot.x(), hot.y());
}

WindowPointer::WindowPointer(QWidget& window) : QObject(&window), window_(window) {}

void WindowPointer::loadCustom(const QString& path) {
  custom_ = LoadCursorFile(path);
  hasCustom_ = true;
  if (state_ == State::Custom) setState(State::Custom);
}

void WindowPointer::setState(State s) {
  state_ = s;
  switch (s) {
    case State::Normal:
      window_.unsetCursor();
      break;
    case State::Wait:
      window_.setCursor(Qt::WaitCursor);
      break;
    case State::Custom:
      // Without a hand image the custom state looks like the normal one.
      if (hasCustom_) {
        window_.setCursor(custom_);
      } else {
        window_.unsetCursor();
      }
      break;
  }
}

void WindowPointer::watch(QWidget* widget, Hover rule) {
  rules_.insert(widget, rule);
  widget->setMouseTracking(true);
  widget->installEventFilter(this);
}

void WindowPointer::hover(Hover rule) {
  switch (rule) {
    case Hover::Button:
      if (!isWait()) setCustom();
      break;
    case Hover::Background:
      if (!isWait()) setNormal();
      break;
    case Hover::AlwaysNormal:
      setNormal();
      break;
  }
}

bool WindowPointer::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove) {
    auto it = rules_.constFind(watched);
    if (it != rules_.constEnd()) {
      auto* widget = static_cast<QWidget*>(watched);
      auto* mouse = static_cast<QMouseEvent*>(event);
      // A move passed up from a child (a label inside a frame) belongs to that child.
      if (!widget->childAt(mouse->position().toPoint())) hover(it.value());
    }
  }
  return QObject::eventFilter(watched, event);
}

void LoadHandPointer(WindowPointer& pointer) {
  QString hand = Application::current().programFile(QStringLiteral("HAND-M.CUR"));
  if (Main::FileExists(hand)) pointer.loadCustom(hand);
}

}  // namespace platform
