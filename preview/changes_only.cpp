#include "preview/changes_only.h"

#include <QPlainTextEdit>
#include <QStringList>

#include "platform/dialogs.h"
#include "preview/form4.h"

namespace transfer {

namespace {
constexpr const char* kCaption = "Send changes only";
}

void PreviewSink::appendCommand(const std::string& command) {
  form_.AppendCommand(QString::fromStdString(command));
}

void PreviewSink::addJob(std::unique_ptr<ScriptJob> job) { form_.AddJob(std::move(job)); }

void PreviewSink::report(const std::string& text) {
  form_.Text1->setPlainText(QString::fromStdString(text));
}

bool AskDeleteTargetOnly(QWidget* parent, const QString& target) {
  return platform::MsgBox("Delete the rows that only " + target +
                              " has?\n\nNo keeps them; the Notes count them.",
                          platform::vbYesNo, kCaption, parent) == platform::vbYes;
}

std::vector<std::string> AskKey(QWidget* parent, const std::string& table,
                                const QString& keyKinds) {
  const QString answer = platform::InputBox(
      QString::fromStdString(table) + " has no " + keyKinds +
          ". Match its rows by which fields? (separated by commas; none leaves the table out)",
      kCaption, {}, parent);
  std::vector<std::string> key;
  for (const QString& field : answer.split(QLatin1Char(','), Qt::SkipEmptyParts))
    if (!field.trimmed().isEmpty()) key.push_back(field.trimmed().toStdString());
  return key;
}

void SayNothingChanged(QWidget* parent, const QString& notes) {
  platform::MsgBox("Nothing changed.\n\n" + notes, platform::vbOKOnly, kCaption, parent);
}

}  // namespace transfer
