#include <QString>
#include <algorithm>
#include <optional>

#include "ado/foxpro_access.h"
#include "transfer/foxpro_to_mysql.h"
#include "transfer/local_load.h"
#include "transfer/mysql_script.h"
#include "transfer/typed_mysql.h"
#include "vfp/database.h"
#include "vfp/file.h"
#include "vfp/schema.h"

// Building the script of "Send Table/s To MySQL": each table's commands, its row-copy job and
// its lines of the report, and the walk over the chosen tables.

namespace transfer {

namespace {

// Where a replacing table is built, or the old one waits for its drop: the table's name with the
// suffix (then a number), cut to MySQL's 64 characters, in no letter case among `taken`.
std::string AsideName(const std::string& table, const std::string& suffix,
                      const std::vector<std::string>& taken) {
  constexpr qsizetype kMySqlNameCharacters = 64;
  for (int n = 1;; ++n) {
    const QString end = QString::fromStdString(suffix + (n == 1 ? "" : std::to_string(n)));
    QString stem = QString::fromStdString(table).left(kMySqlNameCharacters - end.size());
    if (!stem.isEmpty() && stem.back().isHighSurrogate()) stem.chop(1);  // never half a character
    const QString name = stem + end;
    const bool used = std::any_of(taken.begin(), taken.end(), [&](const std::string& t) {
      return QString::fromStdString(t).compare(name, Qt::CaseInsensitive) == 0;
    });
    if (!used) return name.toStdString();
  }
}

}  // namespace

std::string ReplacedMySqlTable(const std::vector<std::string>& mysqlTables,
                               const std::string& name) {
  if (std::find(mysqlTables.begin(), mysqlTables.end(), name) != mysqlTables.end()) return name;
  std::vector<std::string> alike;
  for (const auto& t : mysqlTables)
    if (QString::fromStdString(t).compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0)
      alike.push_back(t);
  if (alike.size() <= 1) return alike.empty() ? std::string() : alike.front();
  std::string list;
  for (const auto& t : alike) list += (list.empty() ? "" : ", ") + t;
  throw ado::DataAccessError("MySQL holds " + list +
                             ", which differ from it only in letter case; it is not clear which "
                             "one it would replace");
}

TableScript ScriptTable(ado::Connection& foxpro, const std::string& foxproConnectionString,
                        const std::string& table, bool overwrite) {
  return ScriptTable(foxpro, foxproConnectionString, table, overwrite ? table : std::string(),
                     overwrite ? std::vector<std::string>{table} : std::vector<std::string>{});
}

TableScript ScriptTable(ado::Connection& foxpro, const std::string& foxproConnectionString,
                        const std::string& table, const std::string& replaces,
                        const std::vector<std::string>& mysqlTables, const std::string& namedBy,
                        const std::function<void(int percent)>& progress,
                        const TypedMySqlScript* typed, std::size_t typedIndex) {
  ado::RecordSet rs;
  rs.open(SelectAllFrom(table), foxpro, ado::adOpenForwardOnly, ado::adLockReadOnly);
  std::string codePageLine;  // what the report says of the page the text is read in
  int readIn = 0;            // that page, when the header names none
  if (const vfp::QueryResult* rows = ado::foxproResultOf(rs)) {
    const vfp::CodePageChoice& cp = rows->codePageChoice();
    using Source = vfp::CodePageChoice::Source;
    if (cp.unmarked()) readIn = cp.codePage;
    if (cp.unmarked() && cp.source != Source::Plain)
      codePageLine = cp.describe(namedBy);
    else if (cp.source == Source::Header && foxpro.unmarkedCodePage())
      codePageLine =
          cp.describe() + "; the code page " + namedBy + " is for tables whose header names none";
  }
  std::vector<ado::FieldInfo> fields;
  std::vector<std::string> names;
  for (int k = 0; k < rs.fieldCount(); ++k) {
    fields.push_back(rs.field(k));
    names.push_back(rs.field(k).name);
  }
  rs.close();
  // MySQL refuses longer names at Execute; a container's long names may be up to 128.
  constexpr int kMySqlNameCharacters = 64;
  auto tooLong = [](const std::string& n) {
    return QString::fromStdString(n).size() > kMySqlNameCharacters;
  };
  if (tooLong(table))
    throw ado::DataAccessError("the table name has more than 64 characters, MySQL's limit");
  for (const auto& n : names)
    if (tooLong(n))
      throw ado::DataAccessError("the field name " + n +
                                 " has more than 64 characters, MySQL's limit");
  TableScript part;
  const std::string key = MySqlScript::TempKeyName(names);
  // A table that replaces another is built apart and swapped in whole, keeping the old one's
  // name (its letter case included, which other programs may rely on).
  std::string into = table, aside;
  if (!replaces.empty()) {
    std::vector<std::string> taken = mysqlTables;
    taken.push_back(replaces);
    into = AsideName(replaces, "_qmnew", taken);
    taken.push_back(into);
    aside = AsideName(replaces, "_qmold", taken);
  }
  if (typed) {
    // The shape read from the table's files must be the one the rows come in.
    const vfp::TableSchema& shape = typed->schema(typedIndex);
    bool same = shape.fields.size() == fields.size();
    for (std::size_t k = 0; same && k < fields.size(); ++k)
      same = shape.fields[k].name == fields[k].name;
    if (!same)
      throw ado::DataAccessError("the fields of " + table +
                                 " read from its files differ from those its rows give");
    std::vector<bool> arrivesNull;
    part.report =
        FoxproTableReport(foxproConnectionString, table, fields, progress, true, &arrivesNull);
    TypedMySqlScript::Table typedPart = typed->table(typedIndex, into, key, arrivesNull);
    part.commands.push_back(typedPart.create);
    part.commands.insert(part.commands.end(), typedPart.afterRows.begin(),
                         typedPart.afterRows.end());
    part.report.insert(part.report.end(), typedPart.report.begin(), typedPart.report.end());
  } else {
    part.commands.push_back(MySqlScript::CreateCommand(into, key, fields));
    part.commands.push_back(MySqlScript::AlterCommand(into, key));
  }
  if (!replaces.empty()) {
    part.commands.push_back(MySqlScript::SwapCommand(replaces, aside, into));
    part.commands.push_back(MySqlScript::DropCommand(aside));
  }
  if (!typed) part.report = FoxproTableReport(foxproConnectionString, table, fields, progress);
  if (!codePageLine.empty()) part.report.insert(part.report.begin(), codePageLine);
  if (!replaces.empty())
    part.report.insert(part.report.begin(), "replaces the MySQL table " + replaces + ": built as " +
                                                into + ", which takes its place once complete");
  part.job = std::make_unique<RowCopyJob>(foxproConnectionString, table, key, std::move(fields),
                                          into, replaces);
  part.job->setSourceCodePage(readIn);
  return part;
}

int BuildSendToMySql(const std::vector<std::string>& tables,
                     const std::vector<std::string>& mysqlTables,
                     const std::string& foxproConnectionString, ScriptSink& sink,
                     const SendToMySqlHooks& hooks) {
  if (tables.empty()) return 0;

  ado::Connection foxpro;
  foxpro.setCursorLocation(ado::adUseClient);
  foxpro.setUnmarkedCodePage(hooks.unmarkedCodePage);
  foxpro.open(foxproConnectionString);
  int scripted = 0;
  std::vector<std::pair<std::string, std::vector<std::string>>> report;
  std::optional<TypedMySqlScript> typed;
  std::vector<std::size_t> typedIndex(tables.size(), std::size_t(-1));
  std::vector<std::string> typedReplaces(tables.size());
  if (hooks.typed) {
    // Every table's shape first: a table's columns and foreign keys depend on which of the
    // others go with it.
    std::vector<vfp::TableSchema> shapes;
    std::vector<std::string> names;
    const auto catalog =
        vfp::openCatalog(ado::ConnectionString::parse(foxproConnectionString).get("Data Source"));
    std::string container;
    for (std::size_t i = 0; i < tables.size(); ++i) {
      const std::string& name = tables[i];
      try {
        typedReplaces[i] = ReplacedMySqlTable(mysqlTables, name);
        if (!typedReplaces[i].empty() && !(hooks.confirmOverwrite && hooks.confirmOverwrite(name)))
          continue;
        const auto path = catalog->findTable(name);
        if (!path) throw ado::DataAccessError("the table " + name + " is not in the database");
        shapes.push_back(TypedShape(*path));
        if (container.empty()) container = shapes.back().container;
        names.push_back(typedReplaces[i].empty() ? name : typedReplaces[i]);
        typedIndex[i] = shapes.size() - 1;
      } catch (const std::exception& e) {
        if (hooks.tableFailed) hooks.tableFailed(name, e.what());
        report.emplace_back(
            name, std::vector<std::string>{std::string("left out of the script: ") + e.what()});
      }
    }
    typed.emplace(
        std::move(shapes), std::move(names),
        container.empty() ? std::vector<vfp::RelationSchema>{} : vfp::describeRelations(container));
  }
  std::vector<std::string> scriptedNames;  // of the typed tables scripted
  for (std::size_t i = 0; i < tables.size(); ++i) {
    const std::string& name = tables[i];
    if (typed && typedIndex[i] == std::size_t(-1)) continue;  // declined, or reported above
    // A table that cannot be read is reported and left out; the others still go.
    try {
      const std::string replaces = typed ? typedReplaces[i] : ReplacedMySqlTable(mysqlTables, name);
      if (!typed && !replaces.empty() && !(hooks.confirmOverwrite && hooks.confirmOverwrite(name)))
        continue;
      std::function<void(int)> within;
      if (hooks.progress)
        within = [&](int percent) {
          hooks.progress(int((i * 100 + std::size_t(percent)) / tables.size()));
        };
      TableScript part =
          ScriptTable(foxpro, foxproConnectionString, name, replaces, mysqlTables,
                      hooks.unmarkedNamedBy, within, typed ? &*typed : nullptr, typedIndex[i]);
      if (hooks.server && !hooks.server->localLoading) {
        // Rows then go with INSERT statements, which the server's packet limit bounds.
        auto oversized = OversizedRowsReport(foxproConnectionString, name, part.job->fields(),
                                             hooks.server->maxAllowedPacket);
        part.report.insert(part.report.end(), oversized.begin(), oversized.end());
        part.job->setLocalLoadAnnounced(true);
      }
      for (const auto& command : part.commands) sink.appendCommand(command);
      sink.addJob(std::move(part.job));
      report.emplace_back(name, std::move(part.report));
      if (typed) scriptedNames.push_back(typed->schema(typedIndex[i]).name);
      ++scripted;
    } catch (const std::exception& e) {
      if (hooks.tableFailed) hooks.tableFailed(name, e.what());
      report.emplace_back(
          name, std::vector<std::string>{std::string("left out of the script: ") + e.what()});
    }
    if (hooks.progress) hooks.progress(int((i + 1) * 100 / tables.size()));
  }
  foxpro.close();
  if (typed && scripted > 0) {
    // Only between tables that made it into the script.
    std::vector<std::pair<std::string, std::string>> refused;
    const bool checkOnServer = !hooks.server || hooks.server->compoundStatements;
    for (const auto& line :
         typed->foreignKeys(refused, scriptedNames, checkOnServer, hooks.progress))
      sink.appendCommand(line);
    for (const auto& refusal : refused) {
      // A named reference, not a structured binding: clang 14 cannot capture those in a lambda.
      const std::string& table = refusal.first;
      const std::string& line = refusal.second;
      auto at = std::find_if(report.begin(), report.end(),
                             [&](const auto& r) { return vfp::equalsNoCase(r.first, table); });
      if (at == report.end()) at = report.insert(report.end(), {table, {}});
      at->second.push_back(line);
    }
  }
  std::string text = FoxproToMySqlReport(report);
  if (scripted > 0 && hooks.server && !hooks.server->localLoading)
    text += std::string("\n") + kLocalLoadOffReport;
  sink.report(text);
  return scripted;
}

}  // namespace transfer
