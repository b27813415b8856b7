// The window pointer: normal (the system arrow), wait (hourglass while a long operation runs)
// and custom (the hand loaded from "HAND-M.CUR"). One per window; the same rules in every window:
// hovering a button shows the hand, hovering the background, a frame, a list or a text box shows
// the arrow, and neither happens while the wait pointer shows.
#pragma once

#include <QCursor>
#include <QHash>
#include <QObject>
#include <QPoint>
#include <QString>

class QWidget;

namespace platform {

// A cursor file (.cur) read with its hot spot; throws platform::Error when the file cannot be
// read as a cursor.
QCursor LoadCursorFile(const QString& path);
// The hot spot stored in a cursor file's first directory entry; throws platform::Error when the
// bytes are not a cursor file.
QPoint CursorFileHotSpot(const QByteArray& bytes);

class WindowPointer : public QObject {
 public:
  enum class State { Normal, Wait, Custom };
  // What moving the mouse over a watched widget does.
  enum class Hover {
    Button,        // custom, unless the pointer is wait
    Background,    // normal, unless the pointer is wait (window, frames, lists, text boxes)
    AlwaysNormal,  // normal even while wait (the connection window's port box)
  };

  explicit WindowPointer(QWidget& window);

  // Loads the hand image; throws platform::Error when the file is not a readable cursor.
  void loadCustom(const QString& path);
  bool hasCustomImage() const { return hasCustom_; }

  State state() const { return state_; }
  bool isWait() const { return state_ == State::Wait; }
  void setState(State s);
  void setNormal() { setState(State::Normal); }
  void setWait() { setState(State::Wait); }
  void setCustom() { setState(State::Custom); }

  // Turns mouse tracking on for the widget and applies the rule on every mouse move directly
  // over it (not over one of its children, which have rules of their own or none).
  void watch(QWidget* widget, Hover rule);
  void hover(Hover rule);  // what a mouse move under that rule does

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget& window_;
  State state_ = State::Normal;
  QCursor custom_;
  bool hasCustom_ = false;
  QHash<QObject*, Hover> rules_;
};

// Loads the hand from "HAND-M.CUR" in the program's folder when that file exists; a missing file
// is no error (the custom state then looks like the normal one), an unreadable one throws
// platform::Error for the window's error trap to report.
void LoadHandPointer(WindowPointer& pointer);

// Shows the wait pointer for a scope and the normal pointer at its end, on every path.
class WaitPointer {
 public:
  explicit WaitPointer(WindowPointer& p) : p_(p) { p_.setWait(); }
  ~WaitPointer() { p_.setNormal(); }
  WaitPointer(const WaitPointer&) = delete;
  WaitPointer& operator=(const WaitPointer&) = delete;

 private:
  WindowPointer& p_;
};

}  // namespace platform
