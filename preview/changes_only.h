// What "Send changes only" shares between the two send buttons: the preview as the place a
// build puts its script and report, and the questions the window asks the user where the
// command line takes --delete and --key.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "transfer/foxpro_to_mysql.h"

class Form4;
class QWidget;

namespace transfer {

// A build's commands, row copies and report, into the preview.
class PreviewSink : public ScriptSink {
 public:
  explicit PreviewSink(Form4& form) : form_(form) {}
  void appendCommand(const std::string& command) override;
  void addJob(std::unique_ptr<ScriptJob> job) override;
  void report(const std::string& text) override;

 private:
  Form4& form_;
};

// "Delete the rows that only <target> has?": true for Yes.
bool AskDeleteTargetOnly(QWidget* parent, const QString& target);

// The fields to match the rows of a table that has no key of its own (`keyKinds` says which it
// lacks); empty when the user names none, which leaves the table out.
std::vector<std::string> AskKey(QWidget* parent, const std::string& table, const QString& keyKinds);

// A sync found nothing to send: said with the Notes, instead of an empty preview.
void SayNothingChanged(QWidget* parent, const QString& notes);

}  // namespace transfer
