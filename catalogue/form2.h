// Form2, the main window: the MySQL tables (List1, left) and the FoxPro tables (List2, right)
// side by side, with the buttons that act on the selected tables. It is created on first use
// (the connection window's "Next >" fills its lists, which creates it and runs its load steps)
// and lives for the rest of the run; "< Back" hides it, "Next >" shows it again, closing it ends
// the program.
//
// Deleting, renaming and the two transfers are long operations: they yield to window events, so
// the buttons stay live, but only one runs at a time; a press while one runs is refused, and the
// progress bar's text says what is running ("Busy: deleting 3 of 12"), never a box (so is
// "< Back", which would let the lists be refilled under it).
#pragma once

#include <QWidget>
#include <functional>

#include "catalogue/long_operation.h"
#include "platform/main_window_view.h"

class QCheckBox;
class QGroupBox;
class QListWidget;
class QProgressBar;
class QPushButton;
class TableList;

namespace platform {
class Application;
class WindowPointer;
}  // namespace platform

// Texts the main window shows.
namespace Form2Texts {
inline constexpr const char* kContactPage = "https://www.tarnwick.example/contact";
inline constexpr const char* kHelpPrefix = "Questions? Please contact Team Tarnwick at ";
inline constexpr const char* kSelectATable = "Please select a table";
inline constexpr const char* kJustOneToRename = "Please select just one table to rename";
inline constexpr const char* kNoFoxproRename = "Rename not available for FoxPro";
}  // namespace Form2Texts

class Form2 : public QWidget {
  Q_OBJECT

 public:
  // Builds the window and runs its load steps.
  Form2();

  // Shows the window, not modal; centred the first time.
  void showCentred();
  // The parts a transfer works on.
  platform::MainWindowView view();
  // A long operation (deletion, transfer) is running.
  bool busy() const { return gate_.busy(); }

  // Handlers, named after their control and event.
  void Form_Load();
  void Form_Unload();
  void PushButton1_Click();   // MySQL "Delete Table/s"
  void PushButton2_Click();   // "< Back"
  void PushButton3_Click();   // "Send Table/s To FoxPro"
  void PushButton4_Click();   // "Send Table/s To MySQL"
  void PushButton5_Click();   // FoxPro "Delete Table/s"
  void PushButton6_Click();   // MySQL "Rename Table"
  void PushButton7_Click();   // FoxPro "Rename Table"
  void PushButton8_Click();   // FoxPro "Select All"
  void PushButton9_Click();   // FoxPro "Deselect All"
  void PushButton10_Click();  // MySQL "Select All"
  void PushButton11_Click();  // MySQL "Deselect All"
  void PushButton12_Click();  // "Help"

  // Controls, each also carrying its name as objectName.
  QGroupBox* Frame2;  // MySQL, left
  TableList* List1;
  QPushButton* PushButton10;
  QPushButton* PushButton11;
  QPushButton* PushButton3;
  QPushButton* PushButton1;
  QPushButton* PushButton6;
  QGroupBox* Frame1;  // FoxPro, right
  TableList* List2;
  QPushButton* PushButton8;
  QPushButton* PushButton9;
  QPushButton* PushButton4;
  QPushButton* PushButton5;
  QPushButton* PushButton7;
  QProgressBar* ProgressBar1;
  QPushButton* PushButton2;
  QPushButton* PushButton12;
  // "Keep types, keys and indexes", below "< Back" and "Help" so every other control keeps its
  // place: ticked, both send buttons make typed scripts. Its state is kept in the settings
  // store (platform::kKeepTypesSetting), off until the user ticks it.
  QCheckBox* KeepTypes;
  // "Send changes only", beside it: ticked, a send brings the target's tables level with the
  // source's by the rows that changed (platform::kChangesOnlySetting, off at first).
  QCheckBox* ChangesOnly;

  platform::WindowPointer& pointer() { return *pointer_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void applyOuterHeight();
  void deleteMySqlTables();
  void deleteFoxproTables();
  void renameMySqlTable();
  void send(bool toFoxpro);
  // Runs a long operation through the gate; a refused one says so in the progress bar.
  bool runLong(const QString& activity, const std::function<void()>& operation);
  void refused();

  platform::WindowPointer* pointer_;
  LongOperationGate gate_;
  bool shownOnce_ = false;
};

// Wires the connection window's hand-on (Application::mainWindow) to this window: the two
// listings on its lists and showing it.
void WireMainWindow(platform::Application& app);
