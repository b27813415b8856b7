// Scripted stand-ins for the platform services, for window tests: every dialog shown is recorded
// and answered from a queue, so no test blocks on a real one. UiTestEnvironment gives each test a
// fresh application object with these installed and a private settings store and program folder.
#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "platform/application.h"

// Failing expectations on texts print the text itself.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace testing_support {

// One dialog as it was shown.
struct Shown {
  enum class Kind { Message, Input, OpenFile, SaveFile, Folder, Modal };
  Kind kind;
  QString text;     // message text or input/folder prompt
  int style = 0;    // message box style
  QString caption;  // message/input caption, file dialog title
  QString filter;   // file dialogs
  bool confirmOverwrite = true;
  QString start;       // folder chooser start folder, input box default
  QString dialogName;  // modal window: objectName, else class name
};

class ScriptedDialogs : public platform::Dialogs {
 public:
  // What the next dialogs answer, in order. A message box without a scripted answer answers OK
  // (an OK-only box) and fails the test when it asked a question; a file, folder or input dialog
  // without one answers as if cancelled.
  std::deque<int> messageAnswers;
  std::deque<QString> textAnswers;  // input, file and folder dialogs
  // Runs while a modal window is "open" (press its buttons, read its state); returns its result.
  // Without one the window is closed at once with result 0.
  std::deque<std::function<int(QDialog&)>> modalScripts;
  // Runs while any message box is "up", with its text: what a user could do meanwhile.
  std::function<void(const QString& text)> whileMessageShown;

  std::vector<Shown> shown;

  int messageBox(QWidget* parent, const QString& text, int style, const QString& caption) override;
  QString inputBox(QWidget* parent, const QString& prompt, const QString& caption,
                   const QString& defaultText) override;
  QString openFile(QWidget* parent, const platform::FileDialogRequest& request) override;
  QString saveFile(QWidget* parent, const platform::FileDialogRequest& request) override;
  QString chooseFolder(QWidget* parent, const QString& prompt, const QString& startFolder) override;
  int showModal(QDialog& dialog) override;

  // The message boxes only.
  std::vector<Shown> messages() const;

 private:
  QString nextText();
};

class FakeClipboard : public platform::Clipboard {
 public:
  int failuresBeforeSuccess = 0;  // attempts that fail before one works; -1: all fail
  bool throwOnFailure = false;    // a failing attempt throws instead of answering false
  int clearAttempts = 0;
  int setAttempts = 0;
  QString text;
  int format = -1;
  bool cleared = false;

  bool tryClear() override;
  bool trySetText(const QString& text, int format) override;

 private:
  bool fails();
  int failed_ = 0;
};

class FakeDesktop : public platform::Desktop {
 public:
  double nextRandom = 0.5;  // what every draw answers
  int seeds = 0;
  std::vector<QString> openedUrls;
  void openUrl(const QString& url) override { openedUrls.push_back(url); }
  void seedRandomFromTimeOfDay() override { ++seeds; }
  double randomUniform() override { return nextRandom; }
};

// A fresh application object with scripted services, a settings store in a temporary folder and
// an empty temporary program folder. Create one per test (a gtest fixture member will do).
class UiTestEnvironment {
 public:
  UiTestEnvironment();
  ~UiTestEnvironment();

  platform::Application& app() { return *app_; }
  ScriptedDialogs& dialogs() { return *dialogs_; }
  FakeClipboard& clipboard() { return *clipboard_; }
  FakeDesktop& desktop() { return *desktop_; }
  QString settingsFolder() const { return settingsDir_.path(); }
  QDir programFolder() const { return QDir(programDir_.path()); }
  int endRequests = 0;  // how often the program was asked to end

 private:
  QTemporaryDir settingsDir_;
  QTemporaryDir programDir_;
  ScriptedDialogs* dialogs_;
  FakeClipboard* clipboard_;
  FakeDesktop* desktop_;
  std::unique_ptr<platform::Application> app_;
};

}  // namespace testing_support
