// Form1, the connection window: the program's start-up window. The user chooses the FoxPro source
// (a .dbc file or a folder of free tables) and the MySQL server, port, user, password and
// database; each field is stored the moment it changes and restored at the next start. Its
// fields are the program's only source of connection details: while it exists it serves them to
// FoxproConnectionString() and MySQLConnectionString() through the application object, visible
// or hidden.
//
// "Next >" tests both sides silently and, when both open, hands on to the main window through
// Application::mainWindow (see platform/application.h), then hides itself. The start-up sequence
// does the same by itself when a server name is stored, so a returning user lands in the main
// window. Closing this window ends the program.
#pragma once

#include <QString>
#include <QWidget>

#include "platform/application.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStyle;

namespace platform {
class WindowPointer;
}

// Texts the connection window shows.
namespace Form1Texts {
inline constexpr const char* kConnectionSuccessful = "Connection successful.";
inline constexpr const char* kFoxproCouldNotConnect = "Could not connect.";
inline constexpr const char* kMySqlCouldNotConnect =
    "Could not connect. Please check with your administrator. Make sure you are allowed to "
    "connect to your database remotely and not just through web-based control panels.";
inline constexpr const char* kFoxproHelp =
    "Make sure FoxPro is closed while using this application.";
inline constexpr const char* kCodePageHelp =
    "Tables whose header names no code page (as FoxPro 2.x and many other programs leave it) "
    "are read in the code page their text is judged to be in; the Notes before Execute say "
    "which. To name it yourself, add this line to the [Quillmere] section of the settings file "
    "(~/.config/Tarnwick/Quillmere.conf), with the code page's number:\r"
    "FoxproCodePage=866";
// Two paragraphs: close FoxPro; CR CR; how tables that name no code page are read.
QString FoxproHelp();
inline constexpr const char* kWorkbenchPage = "https://dev.mysql.com/downloads/workbench/";
inline constexpr const char* kSecureConnectionHelp =
    "The connection is encrypted (TLS) whenever the server offers it. To require a verified "
    "server certificate, add this line to the [Quillmere] section of the settings file "
    "(~/.config/Tarnwick/Quillmere.conf), naming the certificate of the authority that signed "
    "the server's (without SSLCA the system's authorities are trusted):\r"
    "MySQLOptions=\"SSLMODE=VERIFY_IDENTITY;SSLCA=/path/to/ca.pem\"";
// Five paragraphs, each of the first four followed by CR CR; the last says how to require a
// verified server certificate.
QString MySqlHelp();
}  // namespace Form1Texts

class Form1 : public QWidget {
  Q_OBJECT

 public:
  Form1();
  ~Form1() override;

  // Runs the start-up sequence (once) and then shows the window, centred, unless the sequence
  // moved on to the main window.
  void start();
  // Shows the window again (the main window's "< Back"); centred when it had not appeared yet,
  // as when the start-up went straight on to the main window.
  void showCentred();

  // The fields as they are now, for the connection strings.
  platform::ConnectionFields fields() const;
  // True once "Next >" handed on to the main window and hid this one.
  bool movedToMainWindow() const { return movedToMainWindow_; }

  // Handlers, named after their control and event.
  void Form_Load();
  void Form_Unload();
  void PushButton2_Click();   // "Next >"
  void PushButton3_Click();   // FoxPro "Test Connection"
  void PushButton6_Click();   // MySQL "Test Connection"
  void PushButton10_Click();  // FoxPro "Help"
  void PushButton1_Click();   // MySQL "Help"
  void PushButton4_Click();   // "..." free-table folder
  void PushButton5_Click();   // "..." .dbc file
  void Option1_Click();
  void Option2_Click();
  void Text_Change(QLineEdit* box);    // stores the box under its key
  void Text_GotFocus(QLineEdit* box);  // selects its whole text

  // Controls, each also carrying its name as objectName.
  QGroupBox* Frame1;
  QRadioButton* Option1;
  QLineEdit* Text1;
  QPushButton* PushButton5;
  QRadioButton* Option2;
  QLineEdit* Text2;
  QPushButton* PushButton4;
  QPushButton* PushButton3;
  QPushButton* PushButton10;
  QGroupBox* Frame2;
  QLabel* Label3;
  QLineEdit* Text3;
  QLabel* Label6;
  QLineEdit* Text4;
  QLabel* Label2;
  QLineEdit* Text5;
  QLabel* Label5;
  QLineEdit* Text6;
  QLabel* Label4;
  QLineEdit* Text7;
  QPushButton* PushButton6;
  QPushButton* PushButton1;
  QPushButton* PushButton2;

  platform::WindowPointer& pointer() { return *pointer_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QString settingsKey(const QLineEdit* box) const;

  QStyle* optionStyle_;
  platform::WindowPointer* pointer_;
  bool loaded_ = false;
  bool centred_ = false;
  bool movedToMainWindow_ = false;
  // "Next >" and the MySQL connection test yield while they work; a press of either meanwhile
  // is ignored.
  bool nextRunning_ = false;
};

// Wires the main window's "< Back" (Application::showConnectionWindow) to this window.
void WireConnectionWindow(platform::Application& app);
