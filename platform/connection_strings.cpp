#include "platform/connection_strings.h"

#include "platform/dataaccess.h"
#include "platform/error_trap.h"
#include "vfp/codepage.h"

namespace platform {

namespace {
std::string pair(const char* key, const QString& value) {
  return ado::ConnectionString::pair(key, value.toStdString());
}
}  // namespace

std::string FoxproConnectionString(const ConnectionFields& f) {
  if (f.useDbcFile) {
    return "Provider=vfpoledb.1;" + pair("Data Source", f.dbcFile) + "Collating Sequence=machine;";
  }
  return "Provider=vfpoledb.1;" + pair("Data Source", f.freeTableFolder) +
         "Collating Sequence=general;";
}

std::string MySQLConnectionString(const ConnectionFields& f) {
  std::string cs = "DRIVER={MySQL ODBC 5.1 Driver};" + pair("SERVER", f.server) +
                   pair("PORT", f.port) + pair("USER", f.user) + pair("DATABASE", f.database) +
                   pair("PASSWORD", f.password);
  // Keys the user stored as connection-string text go on as written.
  const std::string more = f.mysqlOptions.trimmed().toStdString();
  if (!more.empty()) cs += more.back() == ';' ? more : more + ';';
  return cs;
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

namespace {
ConnectionFields currentFields() {
  auto& app = Application::current();
  if (!app.connectionFields) {
    throw Error(QStringLiteral("The connection window is not loaded."));
  }
  return app.connectionFields();
}
}  // namespace

}  // namespace platform

std::string FoxproConnectionString() {
  return platform::FoxproConnectionString(platform::currentFields());
}

std::string MySQLConnectionString() {
  return platform::MySQLConnectionString(platform::currentFields());
}

int UnmarkedFoxproCodePage() { return platform::UnmarkedFoxproCodePage(platform::currentFields()); }
