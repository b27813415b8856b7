// Message boxes, input boxes, file and folder choosers and modal windows: every dialog the
// program shows goes through the Dialogs of the current Application, so tests answer them from a
// script (tests/support/scripted_dialogs.h) and never block on a real one.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace platform {

// Buttons and icon of a message box, combined with "|", numbered as the classic message-box
// styles so that a box reads as it was designed ("Overwrite?" is vbYesNo).
enum MsgBoxStyle : int {
  vbOKOnly = 0,
  vbOKCancel = 1,
  vbYesNo = 4,
  vbCritical = 16,
  vbQuestion = 32,
  vbExclamation = 48,  // the warning icon
  vbInformation = 64,
};
inline constexpr int kMsgBoxButtonsMask = 7;
inline constexpr int kMsgBoxIconMask = 112;

// What a message box answers.
enum MsgBoxResult : int { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

// An open- or save-file chooser. The filter is written in the classic form
// "Text Files(*.txt)|*.txt|All Files (*.*)|*.*|": description and pattern alternate.
struct FileDialogRequest {
  QString title;
  QString filter;
  bool confirmOverwrite = true;  // save only: ask before replacing an existing file
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Texts may separate paragraphs with bare CR; the box shows them as line breaks. The caption
  // is never empty here (MsgBox fills in the application title). Returns a MsgBoxResult.
  virtual int messageBox(QWidget* parent, const QString& text, int style,
                         const QString& caption) = 0;
  // The typed text, or empty text when the user cancels.
  virtual QString inputBox(QWidget* parent, const QString& prompt, const QString& caption,
                           const QString& defaultText) = 0;
  // Full path of the chosen file, or empty text when the user cancels.
  virtual QString openFile(QWidget* parent, const FileDialogRequest& request) = 0;
  virtual QString saveFile(QWidget* parent, const FileDialogRequest& request) = 0;
  // Full path of the chosen folder, or empty text when the user cancels.
  virtual QString chooseFolder(QWidget* parent, const QString& prompt,
                               const QString& startFolder) = 0;
  // Shows the window modally and returns when it has closed, with its result code.
  virtual int showModal(QDialog& dialog) = 0;
};

// The production implementation over QMessageBox, QInputDialog, QFileDialog and QDialog::exec.
class QtDialogs : public Dialogs {
 public:
  int messageBox(QWidget* parent, const QString& text, int style, const QString& caption) override;
  QString inputBox(QWidget* parent, const QString& prompt, const QString& caption,
                   const QString& defaultText) override;
  QString openFile(QWidget* parent, const FileDialogRequest& request) override;
  QString saveFile(QWidget* parent, const FileDialogRequest& request) override;
  QString chooseFolder(QWidget* parent, const QString& prompt, const QString& startFolder) override;
  int showModal(QDialog& dialog) override;
};

// "Text Files(*.txt)|*.txt|All Files (*.*)|*.*|" in the form a Qt file dialog takes.
QString qtFileFilter(const QString& classicFilter);
// CR LF and bare CR as the line breaks a Qt label shows.
QString displayText(const QString& text);

// Convenience over Application::current().dialogs(): an empty caption means the application
// title set by SetShortTitle.
int MsgBox(const QString& text, int style = vbOKOnly, const QString& caption = {},
           QWidget* parent = nullptr);
QString InputBox(const QString& prompt, const QString& caption = {},
                 const QString& defaultText = {}, QWidget* parent = nullptr);
int ShowModal(QDialog& dialog);

}  // namespace platform
