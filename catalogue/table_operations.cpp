#include "catalogue/table_operations.h"

#include "ado/dataaccess.h"
#include "platform/error_trap.h"

namespace Catalogue {

namespace {

constexpr const char* kDropTable = "DROP TABLE ";

QString textOf(const ado::Value& v) { return QString::fromStdString(v.toText()); }

}  // namespace

std::string MySqlQuotedName(const QString& name) {
  QString quoted = name;
  quoted.replace(QLatin1Char('`'), QStringLiteral("``"));
  return "`" + quoted.toStdString() + "`";
}

std::string MySqlDropStatement(const QString& name) { return kDropTable + MySqlQuotedName(name); }

std::string MySqlRenameStatement(const QString& oldName, const QString& newName) {
  return "RENAME TABLE " + MySqlQuotedName(oldName) + " TO " + MySqlQuotedName(newName);
}

std::string FoxproDropStatement(const QString& name) {
  static constexpr std::pair<char, char> kQuotes[] = {
      {'`', '`'}, {'[', ']'}, {'"', '"'}, {'\'', '\''}};
  for (auto [open, close] : kQuotes) {
    if (!name.contains(QLatin1Char(close))) {
      return kDropTable + std::string(1, open) + name.toStdString() + std::string(1, close);
    }
  }
  throw platform::Error(
      QStringLiteral("The table name %1 cannot be written in a FoxPro command.").arg(name));
}

void DropMySqlTable(const std::string& connectionString, const QString& name,
                    const ado::Waiting& waiting) {
  ado::Connection cn;
  cn.setWaiting(waiting);
  cn.open(connectionString);
  cn.execute(MySqlDropStatement(name));
  cn.close();
}

void DropFoxproTable(ado::Connection& connection, const QString& name) {
  connection.execute(FoxproDropStatement(name));
}

RenameOutcome RenameMySqlTable(const std::string& connectionString, const QString& oldName,
                               const QString& newName, const ado::Waiting& waiting) {
  ado::Connection cn;
  cn.setCursorLocation(ado::adUseClient);
  cn.setWaiting(waiting);
  cn.open(connectionString);
  cn.execute(MySqlRenameStatement(oldName, newName));
  // From here on the table has its new name, whatever fails.
  RenameOutcome outcome{newName, {}};
  try {
    // Whether the server folds names (lower_case_table_names) decides what it stored; its own
    // listing says so without guessing. An exact match wins, since a case-sensitive server may
    // hold "Orders" and "orders" side by side.
    ado::RecordSet rs(cn.execute("SHOW TABLES"));
    QString folded;
    for (; !rs.eof(); rs.moveNext()) {
      QString stored = textOf(rs.value(0));
      if (stored == newName) return outcome;
      if (folded.isEmpty() && stored.compare(newName, Qt::CaseInsensitive) == 0) folded = stored;
    }
    if (!folded.isEmpty()) outcome.stored = folded;
  } catch (const std::exception& e) {
    outcome.listingError = QString::fromUtf8(e.what());
  }
  return outcome;
}

QString RenamedButUnlistedText(const QString& oldName, const QString& newName,
                               const QString& listingError) {
  return QStringLiteral(
             "%1 was renamed to %2, but the tables could not be listed afterwards: "
             "%3\r\nThe list now shows what the server holds.")
      .arg(oldName, newName, listingError);
}

}  // namespace Catalogue
