#include "platform/dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QStringList>

#include "platform/application.h"

namespace platform {

QString displayText(const QString& text) {
  QString t = text;
  t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return t;
}

QString qtFileFilter(const QString& classicFilter) {
  QStringList parts = classicFilter.split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    QString pattern = parts[i + 1].trimmed();
    if (description.isEmpty() && pattern.isEmpty()) continue;
    // "*.*" means every file where it comes from; here it would skip names without a dot.
    QString qtPattern = pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern;
    qtPattern.replace(QLatin1Char(';'), QLatin1Char(' '));
    // Qt reads the patterns from the parentheses closing each entry: state them there once.
    QString shown = description.trimmed();
    QString stated = QLatin1Char('(') + pattern + QLatin1Char(')');
    if (shown.endsWith(stated)) shown = shown.left(shown.size() - stated.size()).trimmed();
    filters << shown + QStringLiteral(" (") + qtPattern + QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}

int QtDialogs::messageBox(QWidget* parent, const QString& text, int style, const QString& caption) {
  QMessageBox box(parent);
  box.setWindowTitle(caption);
  box.setText(displayText(text));
  box.setTextFormat(Qt::PlainText);
  switch (style & kMsgBoxIconMask) {
    case vbCritical:
      box.setIcon(QMessageBox::Critical);
      break;
    case vbQuestion:
      box.setIcon(QMessageBox::Question);
      break;
    case vbExclamation:
      box.setIcon(QMessageBox::Warning);
      break;
    case vbInformation:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  switch (style & kMsgBoxButtonsMask) {
    case vbYesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
      break;
    case vbOKCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Ok);
      break;
    default:
      box.setStandardButtons(QMessageBox::Ok);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes:
      return vbYes;
    case QMessageBox::No:
      return vbNo;
    case QMessageBox::Cancel:
      return vbCancel;
    default:
      // Closing a Yes/No box by its title bar counts as No; an OK box answers OK.
      return (style & kMsgBoxButtonsMask) == vbYesNo ? vbNo : vbOK;
  }
}

QString QtDialogs::inputBox(QWidget* parent, const QString& prompt, const QString& caption,
                            const QString& defaultText) {
  bool ok = false;
  QString text = QInputDialog::getText(parent, caption, displayText(prompt), QLineEdit::Normal,
                                       defaultText, &ok);
  return ok ? text : QString();
}

QString QtDialogs::openFile(QWidget* parent, const FileDialogRequest& request) {
  return QFileDialog::getOpenFileName(parent, request.title, QString(),
                                      qtFileFilter(request.filter));
}

QString QtDialogs::saveFile(QWidget* parent, const FileDialogRequest& request) {
  QFileDialog::Options options;
  if (!request.confirmOverwrite) options |= QFileDialog::DontConfirmOverwrite;
  return QFileDialog::getSaveFileName(parent, request.title, QString(),
                                      qtFileFilter(request.filter), nullptr, options);
}

QString QtDialogs::chooseFolder(QWidget* parent, const QString& prompt,
                                const QString& startFolder) {
  return QFileDialog::getExistingDirectory(parent, prompt, startFolder, QFileDialog::ShowDirsOnly);
}

int QtDialogs::showModal(QDialog& dialog) { return dialog.exec(); }

int MsgBox(const QString& text, int style, const QString& caption, QWidget* parent) {
  auto& app = Application::current();
  return app.dialogs().messageBox(parent, text, style, caption.isEmpty() ? app.title() : caption);
}

QString InputBox(const QString& prompt, const QString& caption, const QString& defaultText,
                 QWidget* parent) {
  auto& app = Application::current();
  return app.dialogs().inputBox(parent, prompt, caption.isEmpty() ? app.title() : caption,
                                defaultText);
}

int ShowModal(QDialog& dialog) { return Application::current().dialogs().showModal(dialog); }

}  // namespace platform
