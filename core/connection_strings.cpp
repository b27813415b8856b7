#include "core/connection_strings.h"

#include "core/error.h"
#include "vfp/codepage.h"

namespace platform {

ado::ConnectionFields ToAdo(const ConnectionFields& f) {
  ado::ConnectionFields a;
  a.useDbcFile = f.useDbcFile;
  a.dbcFile = f.dbcFile.toStdString();
  a.freeTableFolder = f.freeTableFolder.toStdString();
  a.server = f.server.toStdString();
  a.port = f.port.toStdString();
  a.user = f.user.toStdString();
  a.password = f.password.toStdString();
  a.database = f.database.toStdString();
  // Trimmed as Qt knows white space, which is more than ASCII's.
  a.mysqlOptions = f.mysqlOptions.trimmed().toStdString();
  return a;
}

std::string FoxproConnectionString(const ConnectionFields& f) {
  return ado::FoxproConnectionString(ToAdo(f));
}

std::string MySQLConnectionString(const ConnectionFields& f) {
  return ado::MySQLConnectionString(ToAdo(f));
}
int UnmarkedFoxproCodePage(const ConnectionFields& f) {
  const QString text = f.foxproCodePage.trimmed();
  if (text.isEmpty()) return 0;
  bool number = false;
  const int cp = text.toInt(&number);
  if (!number || !vfp::markFromCodePage(cp))
    throw Error(QStringLiteral("The setting %1=%2 names no code page FoxPro knows.")
                    .arg(QLatin1String(kFoxproCodePageSetting), text));
  return cp;
}

}  // namespace platform
