// quillmere-transfer: sends named tables between a FoxPro database and MySQL without a window,
// for nightly jobs. It builds the same script the preview window would show, through the same
// transfer code, and runs it (or, with --dry-run, writes it to a file and says what would change).
//
// Progress goes to standard error, the Notes (rows the server refused, what the run could not do)
// to standard output. The exit status says whether everything arrived as it was (see kUsage).
#include <QCoreApplication>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "core/connection_strings.h"
#include "core/settings.h"
#include "credentials.h"
#include "platform/table_listing.h"
#include "transfer/foxpro_to_mysql.h"
#include "transfer/mysql_to_foxpro.h"
#include "transfer/script_file.h"
#include "transfer/script_runner.h"
#include "transfer/sync_to_foxpro.h"
#include "transfer/sync_to_mysql.h"

namespace {

// A nightly job acts on these, so each means one thing (kUsage says which).
constexpr int kAllArrived = 0;
constexpr int kNotAllArrived = 1;
constexpr int kNothingDone = 2;
constexpr int kStoppedPartWay = 3;

const char* kUsage =
    "usage: quillmere-transfer --to-mysql|--to-foxpro [options] TABLE...|--all\n"
    "\n"
    "Sends the named tables from FoxPro to MySQL (--to-mysql) or from MySQL to FoxPro\n"
    "(--to-foxpro) with the script Quillmere's preview would show. Connection settings are the\n"
    "ones the program stored; the options below replace single ones.\n"
    "\n"
    "  --foxpro PATH             a .dbc file, or a folder of free tables\n"
    "  --mysql-server HOST       --mysql-port N  --mysql-user NAME  --mysql-database NAME\n"
    "  --mysql-options KEYS      e.g. \"SSLMODE=VERIFY_IDENTITY;SSLCA=ca.pem\"\n"
    "  -p, --password            ask for the MySQL password (without echoing it); read from\n"
    "                            standard input when there is no terminal\n"
    "  -pTEXT, --password=TEXT, --mysql-password TEXT\n"
    "                            the password itself (other users can see it in ps)\n"
    "  --defaults-extra-file=FILE\n"
    "                            take host, port, user, password and database from the\n"
    "                            [client] group of a MySQL option file (keep it mode 600)\n"
    "  --all                     send every table of the source\n"
    "  --overwrite               replace tables the target has already (else they are skipped);\n"
    "                            the new one is built apart and takes the old one's place\n"
    "                            once complete (a MySQL name in another letter case counts)\n"
    "  --typed                   keep types, keys and indexes: typed columns (dates as dates,\n"
    "                            numbers as numbers), the primary key, unique keys, indexes\n"
    "                            and foreign keys, where the classic script sends text\n"
    "                            columns and no keys; the report names what cannot be kept\n"
    "  --sync                    send only what changed since the tables were sent typed: an\n"
    "                            INSERT per new row, an UPDATE of the changed columns per\n"
    "                            changed row. Rows are matched by the source's key: with\n"
    "                            --to-mysql the FoxPro table's primary (else candidate) tag,\n"
    "                            each table in one transaction; with --to-foxpro the MySQL\n"
    "                            table's primary key (else a unique key of NOT NULL columns),\n"
    "                            values compared as the FoxPro fields hold them\n"
    "  --key COL[,COL]           with --sync: match rows by these columns instead\n"
    "  --delete                  with --sync: delete the rows only the target has (else\n"
    "                            counted); FoxPro records are marked deleted\n"
    "  --dry-run FILE            write the script to FILE and print what would change; run "
    "nothing\n"
    "  --source-codepage N       the code page of FoxPro tables whose header names none (866,\n"
    "                            1250, ...); without it their text is judged, and the output\n"
    "                            says which page each such table is read in. A header that\n"
    "                            names a code page is always obeyed. With --to-foxpro: the\n"
    "                            page of new tables when the folder's tables name none\n"
    "\n"
    "Where a setting is given more than once, the command line wins, then the option file,\n"
    "then the MYSQL_PWD environment variable (the password only), then the stored settings.\n"
    "\n"
    "Progress goes to standard error, the Notes to standard output.\n"
    "\n"
    "Exit status:\n"
    "  0  every named table arrived whole: all its rows, no value refused or changed on the\n"
    "     way (the forms the report describes, such as dates as text, are not changes)\n"
    "  1  the run went to its end, but not everything arrived as it was: a table was left\n"
    "     out (not found, unreadable, read only in part, or already in the target without\n"
    "     --overwrite), a row was refused, the server changed a value, a memo the FoxPro\n"
    "     memo file could not give went as NULL, or characters the FoxPro code page cannot\n"
    "     hold were written as \"?\"; the output says which\n"
    "  2  nothing was done: the command line or the settings cannot be used, a database\n"
    "     cannot be reached, or no table is left to send\n"
    "  3  the run stopped at a statement that failed: the tables before it arrived; the\n"
    "     Notes name the statement, the database's message and what became of the table\n"
    "     it was on (a table it was to replace keeps its old rows until the new copy is\n"
    "     complete; a half-built copy is removed, or named when it cannot be)\n"
    "With --dry-run: 0, or 1 when a table is left out, or 2 when nothing would be sent.\n";

void progress(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

bool sameName(const std::string& a, const std::string& b) {
  return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

bool holds(const std::vector<std::string>& names, const std::string& name) {
  for (const auto& n : names)
    if (sameName(n, name)) return true;
  return false;
}

struct Options {
  bool toMySql = false;
  bool toFoxpro = false;
  bool overwrite = false;
  bool typed = false;  // --typed: types, keys and indexes kept
  bool all = false;    // every table of the source
  bool sync = false;   // --sync: only what changed
  bool deleteTargetOnly = false;
  QString key;  // --key COL[,COL]
  QString dryRunFile;
  bool codePageGiven = false;  // --source-codepage, rather than the stored setting
  platform::ConnectionFields fields;
  std::vector<std::string> tables;
};

platform::ConnectionFields storedFields() {
  using platform::Settings::value;
  platform::ConnectionFields f;
  f.useDbcFile = value("FoxproOption") != QLatin1String("2");
  f.dbcFile = value("DBCFile");
  f.freeTableFolder = value("FreeTableFolder");
  f.server = value("MySQLServer", "localhost");
  f.port = value("MySQLPort", "3306");
  f.user = value("MySQLUser");
  f.password = value("MySQLPassword");
  f.database = value("MySQLDatabase");
  f.mysqlOptions = value("MySQLOptions");
  f.foxproCodePage = value(platform::kFoxproCodePageSetting);
  return f;
}

// False (after saying why) when the command line cannot be used.
bool parse(const QStringList& args, Options& o) {
  // Gathered first and applied last: what the command line names wins over the option file,
  // MYSQL_PWD and the stored settings, wherever on the line it stands.
  std::map<QString, QString> given;
  const std::map<QString, QString> aliases = {{"--password", "--mysql-password"}};
  const QStringList valued = {"--foxpro",
                              "--mysql-server",
                              "--mysql-port",
                              "--mysql-user",
                              "--mysql-password",
                              "--mysql-database",
                              "--mysql-options",
                              "--dry-run",
                              "--defaults-extra-file",
                              "--source-codepage",
                              "--key"};
  bool prompt = false;
  for (int i = 1; i < args.size(); ++i) {
    QString a = args[i];
    std::optional<QString> attached;  // --option=value
    if (a.startsWith(QLatin1String("--")) && a.contains(QLatin1Char('='))) {
      attached = a.mid(a.indexOf(QLatin1Char('=')) + 1);
      a.truncate(a.indexOf(QLatin1Char('=')));
    }
    if (aliases.count(a)) a = aliases.at(a);
    if (a == "--to-mysql") {
      o.toMySql = true;
    } else if (a == "--to-foxpro") {
      o.toFoxpro = true;
    } else if (a == "--overwrite") {
      o.overwrite = true;
    } else if (a == "--typed") {
      o.typed = true;
    } else if (a == "--all") {
      o.all = true;
    } else if (a == "--sync") {
      o.sync = true;
    } else if (a == "--delete") {
      o.deleteTargetOnly = true;
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(kAllArrived);
    } else if (a == "-p" || (a == "--mysql-password" && !attached && args[i] == "--password")) {
      // As mysql's own -p: alone it asks; a value must be joined to it (-psecret), so a table
      // name after it is never taken for the password.
      prompt = true;
    } else if (a.startsWith(QLatin1String("-p")) && !a.startsWith(QLatin1String("--"))) {
      given["--mysql-password"] = a.mid(2);
    } else if (valued.contains(a)) {
      if (!attached) {
        if (i + 1 >= args.size()) {
          std::fprintf(stderr, "quillmere-transfer: %s needs a value\n", qPrintable(a));
          return false;
        }
        attached = args[++i];
      }
      given[a] = *attached;
    } else if (a.startsWith(QLatin1String("-"))) {
      std::fprintf(stderr, "quillmere-transfer: unknown option %s\n%s", qPrintable(args[i]),
                   kUsage);
      return false;
    } else {
      o.tables.push_back(a.toStdString());
    }
  }
  if (o.toMySql == o.toFoxpro || o.tables.empty() == !o.all) {
    if (o.all && !o.tables.empty())
      std::fprintf(stderr, "quillmere-transfer: --all sends every table; name none with it\n");
    std::fputs(kUsage, stderr);
    return false;
  }
  if (o.sync && o.overwrite) {
    std::fprintf(stderr,
                 "quillmere-transfer: --sync changes tables in place; --overwrite "
                 "replaces them whole: give one of them\n");
    return false;
  }
  if (!o.sync && (o.deleteTargetOnly || given.count("--key"))) {
    std::fprintf(stderr, "quillmere-transfer: --delete and --key go with --sync\n");
    return false;
  }
  if (given.count("--key")) o.key = given["--key"];
  if (prompt && given.count("--mysql-password")) {
    std::fprintf(stderr, "quillmere-transfer: the password is given twice\n");
    return false;
  }

  o.fields = storedFields();
  if (const char* pwd = std::getenv("MYSQL_PWD"); pwd && *pwd) o.fields.password = pwd;
  if (given.count("--defaults-extra-file")) {
    try {
      const credentials::ClientOptions file =
          credentials::ReadClientGroup(given["--defaults-extra-file"].toStdString());
      const auto set = [](QString& field, const std::optional<std::string>& v) {
        if (v) field = QString::fromStdString(*v);
      };
      set(o.fields.server, file.host);
      set(o.fields.port, file.port);
      set(o.fields.user, file.user);
      set(o.fields.password, file.password);
      set(o.fields.database, file.database);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quillmere-transfer: %s\n", e.what());
      return false;
    }
  }
  const std::map<QString, QString*> fields = {{"--mysql-server", &o.fields.server},
                                              {"--mysql-port", &o.fields.port},
                                              {"--mysql-user", &o.fields.user},
                                              {"--mysql-password", &o.fields.password},
                                              {"--mysql-database", &o.fields.database},
                                              {"--mysql-options", &o.fields.mysqlOptions},
                                              {"--source-codepage", &o.fields.foxproCodePage},
                                              {"--dry-run", &o.dryRunFile}};
  for (const auto& [option, value] : given) {
    if (option == "--foxpro") {
      o.fields.useDbcFile = value.endsWith(QLatin1String(".dbc"), Qt::CaseInsensitive);
      (o.fields.useDbcFile ? o.fields.dbcFile : o.fields.freeTableFolder) = value;
    } else if (fields.count(option)) {
      *fields.at(option) = value;
    }
  }
  o.codePageGiven = given.count("--source-codepage") > 0;
  try {
    platform::UnmarkedFoxproCodePage(o.fields);
  } catch (const std::exception& e) {
    if (o.codePageGiven)
      std::fprintf(stderr,
                   "quillmere-transfer: --source-codepage %s is no code page FoxPro knows\n",
                   qPrintable(o.fields.foxproCodePage));
    else
      std::fprintf(stderr, "quillmere-transfer: %s\n", e.what());
    return false;
  }
  if (prompt) {
    try {
      o.fields.password = QString::fromStdString(credentials::PromptPassword());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quillmere-transfer: %s\n", e.what());
      return false;
    }
  }
  return true;
}

struct Script {
  QString text;
  std::vector<std::unique_ptr<transfer::ScriptJob>> jobs;
  void append(const QString& command) {
    text += transfer::WithCrLf(command);
    text += QLatin1String("\r\n");
  }
  // Takes back the last `count` lines (every line ends in CR LF).
  void withdraw(long long count) {
    qsizetype end = text.size();
    for (; count > 0 && end > 0; --count) {
      const qsizetype lf = end >= 3 ? text.lastIndexOf(QLatin1Char('\n'), end - 3) : -1;
      end = lf + 1;
    }
    text.truncate(end);
  }
};

// What the script will do, one line per table, for the dry run and the log.
struct Report {
  std::vector<std::string> lines;
  // What the target will show differently from the source, as the preview's Notes show it
  // before Execute.
  std::string changes;
  int refusedTables = 0;
  int scriptedTables = 0;
};

// Where a build for MySQL puts its commands, row copies and report.
struct ScriptInto : transfer::ScriptSink {
  Script& script;
  Report& out;
  ScriptInto(Script& s, Report& r) : script(s), out(r) {}
  void appendCommand(const std::string& c) override { script.append(QString::fromStdString(c)); }
  void addJob(std::unique_ptr<transfer::ScriptJob> job) override {
    script.jobs.push_back(std::move(job));
  }
  void report(const std::string& text) override { out.changes = text; }
};

int run(const Options& o) {
  const std::string foxpro = platform::FoxproConnectionString(o.fields);
  const std::string mysql = platform::MySQLConnectionString(o.fields);
  Script script;
  Report report;
  // Connecting may take the connect limit's seconds; a job's log says what it waits for.
  progress("connecting to MySQL at " + o.fields.server.toStdString() + ":" +
           o.fields.port.toStdString());

  if (o.sync) {
    ScriptInto sink(script, report);
    std::vector<std::string> keyColumns;
    for (const auto& column : o.key.split(QLatin1Char(','), Qt::SkipEmptyParts))
      keyColumns.push_back(column.trimmed().toStdString());
    auto leftOut = [&](const std::string&, const std::string&) { ++report.refusedTables; };
    // The tables named, of the source's; the others are reported, not a reason to stop.
    auto chosen = [&](const std::vector<std::string>& sources, const std::string& source) {
      std::vector<std::string> tables;
      for (const auto& t : o.all ? sources : o.tables) {
        if (holds(sources, t)) {
          tables.push_back(t);
        } else {
          report.lines.push_back(t + ": not in the " + source + " database; left out");
          ++report.refusedTables;
        }
      }
      return tables;
    };
    transfer::SyncOutcome outcome;
    if (o.toMySql) {
      const std::vector<std::string> existing = platform::MySqlTableNames(mysql);
      transfer::SyncToMySqlHooks hooks;
      hooks.key = keyColumns;
      hooks.deleteTargetOnly = o.deleteTargetOnly;
      hooks.unmarkedCodePage = platform::UnmarkedFoxproCodePage(o.fields);
      hooks.tableLeftOut = leftOut;
      outcome = transfer::BuildSyncToMySql(chosen(platform::FoxproTableNames(foxpro), "FoxPro"),
                                           existing, foxpro, mysql, sink, hooks);
    } else {
      transfer::SyncToFoxproHooks hooks;
      hooks.key = keyColumns;
      hooks.deleteTargetOnly = o.deleteTargetOnly;
      hooks.tableLeftOut = leftOut;
      outcome = transfer::BuildSyncToFoxpro(chosen(platform::MySqlTableNames(mysql), "MySQL"),
                                            foxpro, mysql, sink, hooks);
    }
    report.scriptedTables = int(outcome.tables.size());
    if (!outcome.tables.empty() && outcome.statements == 0) {
      // A sync that finds nothing writes nothing: the target is level with the source.
      for (const auto& line : report.lines) std::printf("%s\n", line.c_str());
      if (!report.changes.empty()) std::printf("%s\n", report.changes.c_str());
      std::printf("Nothing changed.\n");
      if (!o.dryRunFile.isEmpty()) transfer::SaveScriptFile(o.dryRunFile, script.text);
      return report.refusedTables > 0 ? kNotAllArrived : kAllArrived;
    }
  } else if (o.toMySql) {
    const std::vector<std::string> existing = platform::MySqlTableNames(mysql);
    const std::vector<std::string> sources = platform::FoxproTableNames(foxpro);
    ScriptInto sink(script, report);
    std::vector<std::string> chosen;
    for (const auto& t : o.all ? sources : o.tables) {
      if (!holds(sources, t)) {
        report.lines.push_back(t + ": not in the FoxPro database; left out");
        ++report.refusedTables;
        continue;
      }
      // Which MySQL table it would replace, letter case included: a server on Linux keeps
      // "Orders" and "orders" apart.
      std::string replaces;
      try {
        replaces = transfer::ReplacedMySqlTable(existing, t);
      } catch (const ado::DataAccessError& e) {
        report.lines.push_back(t + ": left out: " + e.what());
        ++report.refusedTables;
        continue;
      }
      if (!replaces.empty() && !o.overwrite) {
        report.lines.push_back(t + ": MySQL has it already" +
                               (replaces == t ? "" : " as " + replaces) +
                               "; left out (--overwrite replaces it)");
        ++report.refusedTables;
      } else {
        chosen.push_back(t);
      }
    }
    transfer::SendToMySqlHooks hooks;
    hooks.confirmOverwrite = [&](const std::string&) { return o.overwrite; };
    hooks.typed = o.typed;
    // The report then says whether rows go in bulk, and names rows too large to go otherwise.
    hooks.server = transfer::AskTargetServer(mysql);
    hooks.unmarkedCodePage = platform::UnmarkedFoxproCodePage(o.fields);
    hooks.unmarkedNamedBy =
        o.codePageGiven ? std::string("named by --source-codepage")
                        : std::string("named by the setting ") + platform::kFoxproCodePageSetting;
    hooks.tableFailed = [&](const std::string& t, const std::string& error) {
      report.lines.push_back(t + ": cannot be read; left out: " + error);
      ++report.refusedTables;
    };
    transfer::BuildSendToMySql(chosen, existing, foxpro, sink, hooks);
    for (const auto& job : script.jobs) {
      ++report.scriptedTables;
      const auto* copy = dynamic_cast<const transfer::RowCopyJob*>(job.get());
      report.lines.push_back(job->table() + ": " +
                             (copy && !copy->replaces().empty()
                                  ? "replaces the MySQL table " + copy->replaces()
                                  : "becomes a new MySQL table"));
    }
  } else {
    const std::vector<std::string> existing = platform::FoxproTableNames(foxpro);
    ado::Connection source;
    transfer::OpenSourceConnection(source, mysql);
    transfer::FoxproScriptHooks hooks;
    long long rows = 0;
    hooks.targetHas = [&](const std::string& t) { return holds(existing, t); };
    hooks.typed = o.typed;
    hooks.confirmOverwrite = [&](const std::string& t) {
      if (!o.overwrite) {
        report.lines.push_back(t + ": FoxPro has it already; left out (--overwrite replaces it)");
        ++report.refusedTables;
      }
      return o.overwrite;
    };
    hooks.renameNumericColumn = [&](const std::string& bare) {
      // The window asks; here the column takes a letter before its number, said in the report.
      report.lines.push_back("column " + bare + " is named c" + bare +
                             " (FoxPro names cannot be numbers)");
      return "c" + bare;
    };
    hooks.progress = [&](long long done, long long total) { rows = total, (void)done; };
    hooks.tableDropped = [](const std::string&) {};
    hooks.tableScripted = [&](const std::string& t) {
      ++report.scriptedTables;
      report.lines.push_back(
          t + ": " +
          (holds(existing, t) ? "replaces the FoxPro table" : "becomes a new FoxPro table") + ", " +
          std::to_string(rows) + " rows");
    };
    hooks.command = [&](std::string_view c) {
      script.append(QString::fromUtf8(c.data(), static_cast<qsizetype>(c.size())));
    };
    hooks.withdraw = [&](long long count) { script.withdraw(count); };
    hooks.job = [&](std::unique_ptr<transfer::ScriptJob> job) {
      script.jobs.push_back(std::move(job));
    };
    hooks.report = [&](const std::string& text) { report.changes = text; };
    std::vector<std::string> tables = o.all ? platform::MySqlTableNames(mysql) : o.tables;
    for (auto it = tables.begin(); it != tables.end();) {
      // A table MySQL does not have is reported, not a reason to stop the others.
      try {
        ado::RecordSet probe;
        probe.open("SELECT * FROM `" + *it + "` LIMIT 0", source, ado::adOpenForwardOnly,
                   ado::adLockReadOnly);
        ++it;
      } catch (const ado::DataAccessError& e) {
        report.lines.push_back(*it + ": cannot be read; left out: " + e.what());
        ++report.refusedTables;
        it = tables.erase(it);
      }
    }
    // The same target, code page included, that the window's send chooses.
    const transfer::FoxproTarget target =
        transfer::ChooseFoxproTarget(o.fields, QLocale::system().name().toStdString());
    // A table left out here (read only in part, too wide for FoxPro) is named in the report.
    report.refusedTables +=
        transfer::BuildFoxproScript(source, tables, target, hooks).tablesLeftOut;
    source.close();
  }

  for (const auto& line : report.lines) std::printf("%s\n", line.c_str());
  if (!report.changes.empty()) std::printf("%s\n", report.changes.c_str());
  // Said before the long part: a job ended meanwhile still leaves in its log what the run was
  // to do, and the names of what a run cut short leaves behind.
  std::fflush(stdout);
  const int whenRun = report.refusedTables > 0 ? kNotAllArrived : kAllArrived;
  if (report.scriptedTables == 0) {
    std::printf("Nothing to send.\n");
    return kNothingDone;
  }

  if (!o.dryRunFile.isEmpty()) {
    transfer::SaveScriptFile(o.dryRunFile, script.text);
    progress("script written to " + o.dryRunFile.toStdString() + "; nothing was run");
    return whenRun;
  }

  std::vector<transfer::ScriptJob*> jobs;
  for (auto& j : script.jobs) jobs.push_back(j.get());
  const std::string target = o.toMySql ? mysql : foxpro;
  int shown = -1;
  transfer::ScriptOutcome outcome = transfer::ExecuteScript(
      script.text, [&] { return target; }, jobs,
      [&](int percent) {
        if (percent / 10 != shown / 10 || percent == 100) {
          if (percent != shown) progress("progress " + std::to_string(percent) + "%");
          shown = percent;
        }
        return true;
      });
  const QString notes = outcome.notesText();
  if (!notes.isEmpty()) std::printf("%s\n", qPrintable(QString(notes).replace("\r\n", "\n")));
  switch (outcome.end) {
    case transfer::ScriptOutcome::End::Finished: {
      progress("Transfer finished.");
      // Counted, not read from the Notes: some notes only inform.
      const bool lost = outcome.rowsRefused > 0 || outcome.valuesChanged > 0 ||
                        outcome.charactersReplaced > 0 || outcome.jobsSkipped > 0;
      return lost ? kNotAllArrived : whenRun;
    }
    case transfer::ScriptOutcome::End::Failed:
      progress("Transfer problem. See the Notes above.");
      // A statement that failed may still have done part of its work.
      return outcome.hasFailingLine ? kStoppedPartWay : kNothingDone;
    case transfer::ScriptOutcome::End::Stopped:
      break;
  }
  return kStoppedPartWay;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Tarnwick"));
  QCoreApplication::setApplicationName(QStringLiteral("Quillmere"));
  Options options;
  if (!parse(QCoreApplication::arguments(), options)) return kNothingDone;
  try {
    return run(options);
  } catch (const std::exception& e) {
    std::printf("%s\n", e.what());
    progress("quillmere-transfer: nothing was done.");
    return kNothingDone;
  }
}
