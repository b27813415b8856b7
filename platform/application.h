// The application object: the single instances of the program's windows, the services through
// which windows reach the platform (dialogs, clipboard, web browser, random draw), and the seams
// between windows that live in folders which may not know each other.
//
// Exactly one exists at a time: main() creates it after QApplication, tests create a fresh one per
// test and install scripted services. Everything that shows a dialog, touches the clipboard, opens
// a web address or draws a random number goes through Application::current(), so no test ever
// blocks on a real dialog.
#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <typeindex>

#include "core/connection_strings.h"
#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "platform/main_window_view.h"

namespace platform {

// The web browser and the random draw: the two small system services the start-up uses.
class Desktop {
 public:
  virtual ~Desktop() = default;
  // Hands the address to the system, which opens it in the user's browser. Never throws for an
  // address the system cannot open: the visit is a courtesy, not an operation.
  virtual void openUrl(const QString& url) = 0;
  virtual void seedRandomFromTimeOfDay() = 0;
  virtual double randomUniform() = 0;  // in [0, 1)
};

// What "Next >" of the connection window hands on to the main window. The main window lives in
// catalogue/, which the connection window (shell/) may not depend on, so the program wires these
// at start-up (app/main.cpp). "Next >" calls them in this order, each as its own trapped step,
// only after both connection tests succeeded; while they are not all wired "Next >" ends after
// the tests and the connection window stays where it is.
struct MainWindowSeam {
  // AddTablesToFoxproListbox on the main window's FoxPro list (List2); creating the main window
  // on first use, which runs its load steps.
  std::function<void(const std::string& foxproConnectionString)> fillFoxproList;
  // AddTablesToMySQLListbox on the main window's MySQL list (List1).
  std::function<void()> fillMySqlList;
  // Shows the main window, not modal.
  std::function<void()> show;
  bool wired() const { return fillFoxproList && fillMySqlList && show; }
};

// The connection window's fields now, through the application object; throws platform::Error
// when no connection window exists.
ConnectionFields CurrentConnectionFields();

class Application {
 public:
  // Installs the Qt services and the program's folder (the executable's folder).
  Application();
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // The one that exists now; throws std::logic_error when there is none.
  static Application& current();
  static bool exists();

  // Services. Tests replace them with scripted ones.
  Dialogs& dialogs() { return *dialogs_; }
  void setDialogs(std::unique_ptr<Dialogs> d) { dialogs_ = std::move(d); }
  Clipboard& clipboard() { return *clipboard_; }
  void setClipboard(std::unique_ptr<Clipboard> c) { clipboard_ = std::move(c); }
  Desktop& desktop() { return *desktop_; }
  void setDesktop(std::unique_ptr<Desktop> d) { desktop_ = std::move(d); }

  // Folder holding the program, "HAND-M.CUR", the icon and the optional skin "x/o.cjs".
  QString programFolder() const { return programFolder_; }
  void setProgramFolder(const QString& folder) { programFolder_ = folder; }
  QString programFile(const QString& name) const;  // programFolder + "/" + name
  QIcon icon() const;  // the application icon from the program's folder; empty when missing

  // Caption of every message box and input box that names none of its own (SetShortTitle).
  QString title() const { return title_; }
  void setTitle(const QString& t) { title_ = t; }

  // Windows, each created on first use and kept until the application object goes. window<W>()
  // hands out the single instance, creating it with W's default constructor the first time.
  template <class W>
  W& window() {
    static_assert(std::is_base_of_v<QWidget, W>, "windows are widgets");
    auto& slot = windows_[std::type_index(typeid(W))];
    if (!slot) slot = std::make_unique<W>();
    return static_cast<W&>(*slot);
  }
  // The instance when it was created already, else nullptr; never creates.
  template <class W>
  W* existingWindow() const {
    auto it = windows_.find(std::type_index(typeid(W)));
    return it == windows_.end() ? nullptr : static_cast<W*>(it->second.get());
  }

  // Seams between windows (see MainWindowSeam). The connection window installs
  // connectionFields when it is created; the main window's "< Back" calls showConnectionWindow.
  MainWindowSeam mainWindow;
  std::function<ConnectionFields()> connectionFields;
  std::function<void()> showConnectionWindow;
  // The two transfers behind the main window's send buttons (see main_window_view.h).
  TransferSeam transfers;

  // Ends the program at once (closing the connection or main window): leaves every event loop,
  // the main one and any modal one. Code that resumes after a modal window must check ending()
  // and stop. Tests replace endProgram to observe the request.
  void quit();
  bool ending() const { return ending_; }
  std::function<void()> endProgram;

 private:
  std::unique_ptr<Dialogs> dialogs_;
  std::unique_ptr<Clipboard> clipboard_;
  std::unique_ptr<Desktop> desktop_;
  QString programFolder_;
  QString title_ = QStringLiteral("Quillmere");
  bool ending_ = false;
  std::map<std::type_index, std::unique_ptr<QWidget>> windows_;
};

}  // namespace platform

// From the connection window's current fields (CurrentConnectionFields); throw platform::Error
// when no connection window exists. For the windows only: the transfers are handed connection
// strings and never reach the application object.
std::string FoxproConnectionString();
std::string MySQLConnectionString();
int UnmarkedFoxproCodePage();
