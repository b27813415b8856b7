#include "platform/error_trap.h"

#include "platform/dialogs.h"

namespace platform {

QString ErrorReportText(const QString& description, const QString& where, const QString& handler,
                        int line) {
  return description + QStringLiteral("\r\n") + QStringLiteral("in Dovrant2021/08/31.") + where +
         QLatin1Char('.') + handler + QLatin1Char(' ') + QStringLiteral("at line ") +
         QString::number(line) + QStringLiteral("\r\r") +
         QStringLiteral("Please email screenshot of this message to ") +
         QLatin1String(kSupportAddress);
}

ErrorTrap::ErrorTrap(QString where, QString handler, QWidget* parent)
    : where_(std::move(where)), handler_(std::move(handler)), parent_(parent) {}

bool ErrorTrap::step(int line, const std::function<void()>& statement) {
  QString description;
  try {
    statement();
    return true;
  } catch (...) {
    description = CurrentExceptionDescription();
  }
  ++failures_;
  lastFailedLine_ = line;
  // The report itself must not end the handler: a failure to show it is swallowed too.
  try {
    MsgBox(ErrorReportText(description, where_, handler_, line), vbOKOnly | vbExclamation,
           QLatin1String(kErrorReportCaption), parent_);
  } catch (...) {
  }
  return false;
}

}  // namespace platform
