#include "transfer/mysql_to_foxpro.h"

#include <QListWidget>

#include "platform/dataaccess.h"
#include "platform/main_module.h"
#include "transfer/foxpro_script.h"

namespace transfer {

namespace {

constexpr int kSourceTimeoutSeconds = 5000;

std::string lowercase(const std::string& name) {
  return QString::fromStdString(name).toLower().toStdString();
}

// The name between backticks, a backtick inside doubled, as MySQL reads a quoted identifier.
std::string backtickName(const std::string& name) {
  std::string out = "`";
  for (char c : name) {
    if (c == '`') out += '`';
    out += c;
  }
  return out + "`";
}

}  // namespace

std::string FoxproTargetFolder(const platform::ConnectionFields& fields) {
  const QString folder =
      fields.useDbcFile ? Main::FolderOfPath(fields.dbcFile) : fields.freeTableFolder;
  std::string out = folder.toStdString();
  if (out.empty() || out.back() == '\\' || out.back() == '/') return out;
  // Windows paths keep their own separator; the engine reads both.
  return out + (out.find('\\') != std::string::npos ? '\\' : '/');
}

void OpenSourceConnection(ado::Connection& mysql, const std::string& connectionString) {
  mysql.setCursorLocation(ado::adUseClient);
  mysql.setCommandTimeout(kSourceTimeoutSeconds);
  mysql.setConnectionTimeout(kSourceTimeoutSeconds);
  mysql.open(connectionString);
}

FoxproScriptSummary BuildFoxproScript(ado::Connection& mysql,
                                      const std::vector<std::string>& tables,
                                      const std::string& targetFolder,
                                      const FoxproScriptHooks& hooks) {
  FoxproScriptSummary summary;
  auto hand = [&](std::string_view command) {
    hooks.command(command);
    ++summary.commands;
  };
  std::string command;  // one buffer for every row, so a row costs no allocation once warm
  for (const std::string& table : tables) {
    if (hooks.targetHas(table)) {
      if (!hooks.confirmOverwrite(table)) {
        ++summary.tablesDeclined;
        continue;
      }
      const std::string lower = lowercase(table);
      hand("DROP TABLE [" + lower + "]");
      hooks.tableDropped(lower);
    }

    ado::RecordSet rows;
    try {
      rows.open("SELECT * FROM " + backtickName(table), mysql, ado::adOpenStatic,
                ado::adLockReadOnly);
    } catch (const ado::DataAccessError& e) {
      throw ado::DataAccessError("Table '" + table + "' cannot be read: " + e.what(),
                                 e.nativeCode());
    }

    const std::string targetPath = targetFolder + table + ".DBF";
    const int fieldCount = rows.fieldCount();
    std::vector<std::string> entries;
    std::vector<int> types;
    for (int f = 0; f < fieldCount; ++f) {
      const ado::FieldInfo& field = rows.field(f);
      std::string entry = FoxproScript::ColumnEntry(field.name);
      const std::string bare = FoxproScript::BareName(entry);
      if (FoxproScript::IsNumericName(bare)) entry = "[" + hooks.renameNumericColumn(bare) + "]";
      entries.push_back(std::move(entry));
      types.push_back(field.type);
    }
    hand(FoxproScript::CreateCommand(targetPath, entries, types));

    const std::string prefix = "INSERT INTO [" + targetPath + "] VALUES(";
    const long long total = rows.recordCount();
    hooks.progress(0, total);
    long long done = 0;
    while (!rows.eof()) {
      command.assign(prefix);
      for (int f = 0; f < fieldCount; ++f) {
        if (f) command += ", ";
        FoxproScript::AppendLiteral(command, rows.value(f), types[static_cast<std::size_t>(f)]);
      }
      command += ')';
      hand(command);
      rows.moveNext();
      hooks.progress(++done, total);
    }
    rows.close();
    ++summary.tablesScripted;
    hooks.tableScripted(table);
  }
  return summary;
}

void RefillFoxproList(QListWidget& list, const std::string& foxproConnectionString) {
  ado::Connection foxpro;
  foxpro.open(foxproConnectionString);
  ado::RecordSet schema(foxpro.openSchema(ado::adSchemaTables));
  list.clear();
  for (; !schema.eof(); schema.moveNext())
    if (schema.value("TABLE_TYPE").toText() == "TABLE")
      list.addItem(QString::fromStdString(schema.value("TABLE_NAME").toText()));
}

}  // namespace transfer
