// The parts of the main window that the two transfers work on. The main window lives in
// catalogue/ and the transfers in transfer/, which may not know each other, so the main window
// hands this view to the transfer its send button starts (through Application::transfers,
// wired in app/main.cpp).
#pragma once

#include <functional>

class QListWidget;
class QProgressBar;
class QWidget;

namespace platform {

class WindowPointer;

struct MainWindowView {
  QWidget& window;             // the main window, parent of the preview and of message boxes
  QListWidget& List1;          // MySQL tables: sorted ignoring case, extended selection
  QListWidget& List2;          // FoxPro tables, the same
  QProgressBar& ProgressBar1;  // value 0..100; its text "Progress Bar" when idle
  WindowPointer& pointer;      // the main window's pointer states
  // "Keep types, keys and indexes" was ticked when the send button was pressed: the script
  // carries typed columns, keys and indexes instead of the classic text columns.
  bool typed = false;
  // "Send changes only" was ticked: the script holds only the rows that changed since the
  // tables were sent typed (an INSERT, UPDATE or DELETE per row), not a copy of every table.
  bool changesOnly = false;
};

// The settings key under which the main window keeps that check box's state ("1" ticked; absent
// or anything else: not ticked, the classic script).
inline constexpr const char* kKeepTypesSetting = "KeepTypes";
// The same for "Send changes only".
inline constexpr const char* kChangesOnlySetting = "ChangesOnly";

// "Send Table/s To FoxPro" and "Send Table/s To MySQL". The main window calls them from its
// button handlers, refusing a second long operation while one runs; unset means not available.
struct TransferSeam {
  std::function<void(MainWindowView&)> sendToFoxpro;
  std::function<void(MainWindowView&)> sendToMySql;
};

}  // namespace platform
