// ErrorReportDialog: the one error trap of every button handler, window load handler and table
// listing. A handler runs its statements as numbered steps (100, 102, 104, ...); a step that
// throws is reported in a message box captioned "Application Error" with the warning icon, and
// the handler goes on with its next step, so it always runs to its end and reports each failing
// step separately.
//
//   platform::ErrorTrap trap("Form4", "PushButton3_Click", this);
//   trap.step(100, [&] { pointer.setWait(); });
//   trap.step(102, [&] { text = RichTextBox1->toPlainText(); });
//
// Line numbers are given at each step, not counted, because a handler may skip steps.
#pragma once

#include <QString>
#include <functional>

#include "core/error.h"

class QWidget;

namespace platform {

inline constexpr const char* kSupportAddress = "support@tarnwick.example";
inline constexpr const char* kErrorReportCaption = "Application Error";

// The report text: description, CR LF, "in Dovrant2021/08/31." + where + "." + handler + " ",
// "at line " + line, CR CR, "Please email screenshot of this message to " + support address.
QString ErrorReportText(const QString& description, const QString& where, const QString& handler,
                        int line);

class ErrorTrap {
 public:
  // where: window or module name ("Form1", "Foxpro"); handler: "PushButton3_Click". The report
  // box is shown over parent.
  ErrorTrap(QString where, QString handler, QWidget* parent = nullptr);

  // Runs the statement numbered line. Returns true when it finished; when it threw, shows the
  // report (once, for this step) and returns false.
  bool step(int line, const std::function<void()>& statement);

  int failures() const { return failures_; }

 private:
  QString where_;
  QString handler_;
  QWidget* parent_;
  int failures_ = 0;
};

}  // namespace platform
