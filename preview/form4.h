// Form4, "Send Table/s": the window every transfer ends in. The transfer appends its commands to
// the preview, one per line, names the target in m_SendType, attaches per-table jobs, and shows
// the window modally:
//
//   Form4 form(&view.window);
//   form.AppendCommand(...);            // as often as needed; cheap
//   form.AddJob(std::move(job));        // optional, see script_job.h
//   form.m_SendType = 0;                // 0 FoxPro, 1 MySQL
//   platform::ShowModal(form);
//   if (platform::Application::current().ending()) return;
//
// The user may edit, find and replace (Form5), save, copy or execute the script. The script's
// only copy is the editor's (see script_editor.h): execution, save, copy and find and replace read
// it there. A run that reaches the end sets ScriptExecuted, says "Transfer finished." and closes
// the window (it stays open when there are notes to read); a failing line stops the run and is
// shown with the database's message in Notes. Edits made during a run (typing, find and
// replace) do not change what that run executes. Closing the window during a run stops the run
// after the current line. Each window is used once: closing it
// discards its script.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "transfer/script_job.h"

class QGroupBox;
class QPlainTextEdit;
namespace transfer {
class EditorLines;
class ScriptEditor;
}  // namespace transfer
class QProgressBar;
class QPushButton;

namespace platform {
class WindowPointer;
}

namespace transfer {
// Program-wide: false at start, set by a run that reached the end, never reset.
bool ScriptExecuted();
void SetScriptExecuted();
}  // namespace transfer

namespace Form4Texts {
inline constexpr const char* kCaption = "Send Table/s";
inline constexpr const char* kTransferFinished = "Transfer finished.";
inline constexpr const char* kTransferProblem = "Transfer problem. See Notes.";
inline constexpr const char* kDataSent = "Data sent to clipboard.";
inline constexpr const char* kSaveTitle = "Save List";
inline constexpr const char* kSaveFilter = "Text Files(*.txt)|*.txt|All Files (*.*)|*.*|";
}  // namespace Form4Texts

class Form4 : public QDialog {
  Q_OBJECT

 public:
  explicit Form4(QWidget* parent = nullptr);
  ~Form4() override;

  qint16 m_SendType = 0;  // 0 FoxPro script, 1 MySQL script, other: runs nothing, succeeds

  // Adds one command as one line of the script. A line break inside the command (CR LF, CR or
  // LF) starts a new line. Cheap: the text goes into the editor a megabyte at a time, and while
  // the window is shown in pieces between events, so a million lines never freeze the window.
  void AppendCommand(const QString& command);
  // The same for a command in UTF-8, without a detour through QString.
  void AppendCommandUtf8(std::string_view command);
  // Takes back the last `count` lines appended (a table the transfer leaves out after all), from
  // the text still on its way into the editor and then from the editor's end.
  void WithdrawCommands(long long count);
  // About this many more bytes of commands will be appended: the editor makes room for them at
  // once, instead of growing (and copying what it holds) many times over.
  void ExpectBytes(long long bytes);
  // Attaches per-table work run during execution.
  void AddJob(std::unique_ptr<transfer::ScriptJob> job);
  // The script as it stands, lines joined by CR LF (what save and copy read).
  QString Script() const;
  // Replaces the whole script.
  void SetScript(const QString& script);
  // Replaces every occurrence of find (exact, case-sensitive, not overlapping) in the whole
  // script, a slice at a time: pause() is called between slices, and returning false abandons
  // the replacement, leaving the script as it was. Returns whether anything was replaced.
  bool ReplaceInScript(const QString& find, const QString& replacement,
                       const std::function<bool()>& pause);

  // True while "Execute SQL Commands Now" runs.
  bool running() const { return running_; }
  // True while text from AppendCommand or SetScript is still being moved into the editor.
  bool loading() const { return pendingAt_ < pending_.size(); }

  void Form_Load();
  void PushButton1_Click();  // "Find and Replace"
  void PushButton2_Click();  // "Save SQL Commands As Text File"
  void PushButton3_Click();  // "Execute SQL Commands Now"
  void PushButton4_Click();  // "Copy SQL Commands To Clipboard"

  QGroupBox* Frame1;
  transfer::ScriptEditor* RichTextBox1;
  QPushButton* PushButton3;
  QPushButton* PushButton1;
  QPushButton* PushButton2;
  QPushButton* PushButton4;
  QGroupBox* Frame2;
  QPlainTextEdit* Text1;  // Notes
  QProgressBar* ProgressBar1;

  platform::WindowPointer& pointer() { return *pointer_; }

  // Every closing path (close box, Escape, a finished run) passes here.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Moves the next piece of the waiting text into the editor; a hidden window takes all that
  // waits unless onePiece.
  void loadNextPiece(bool onePiece = false);
  void scheduleLoading();
  void setScriptUtf8(QByteArray script);
  void appendLine(QByteArrayView utf8);
  void prepareRoom(long long totalBytes);
  void makeRoomWhenReady();
  // True while memory for the editor's room is being made ready and not yet taken.
  bool roomComing() const;
  // Moves the rest of the text into the editor, a piece per pause(); false if pause() said stop.
  bool finishLoading(const std::function<bool()>& pause);

  platform::WindowPointer* pointer_;
  std::vector<std::unique_ptr<transfer::ScriptJob>> jobs_;
  // Text on its way into the editor: pending_ from pendingAt_ on, UTF-8 with CR LF breaks.
  QByteArray pending_;
  qsizetype pendingAt_ = 0;
  std::optional<QByteArray> waiting_;          // a SetScript made while find and replace reads
  transfer::EditorLines* runLines_ = nullptr;  // what a run going on reads
  long long expected_ = 0;  // bytes the editor makes room for once memory is ready
  bool loadScheduled_ = false;
  bool replacing_ = false;  // ReplaceInScript is reading the editor's bytes
  bool running_ = false;
  bool executing_ = false;  // PushButton3_Click has not returned yet, message boxes included
  bool stopRequested_ = false;
};
