#include "transfer/mysql_to_foxpro.h"

#include <QString>
#include <algorithm>
#include <optional>
#include <set>

#include "ado/dataaccess.h"
#include "ado/mysql_session.h"
#include "transfer/foxpro_names.h"
#include "transfer/foxpro_script.h"
#include "transfer/typed_foxpro.h"
#include "vfp/codepage.h"
#include "vfp/file.h"
#include "vfp/names.h"

namespace transfer {

namespace {

constexpr int kSourceTimeoutSeconds = 5000;

}  // namespace

std::string FoxproListedName(const std::string& table) {
  return QString::fromStdString(table).toLower().toStdString();
}

void OpenSourceConnection(ado::Connection& mysql, const std::string& connectionString) {
  // Rows are streamed: a stored result would hold the whole table in memory and keep the window
  // waiting until the last row arrived. The progress bar's total is counted beforehand.
  mysql.setCursorLocation(ado::adUseServer);
  // A large table may take the server long to count or send, so reading may wait long; the
  // client library also waits for the server's greeting under the connect limit, and a server
  // that takes the connection and never answers must not hold the run for that long. Connecting
  // keeps the limit every other connection has.
  mysql.setCommandTimeout(kSourceTimeoutSeconds);
  mysql.open(connectionString);
}

namespace {

constexpr long long kFoxproFileLimit = 2147483647;  // bytes of a .dbf or .fpt FoxPro can address
constexpr long long kMemoBlock = 64;                // block size of the memo files the engine makes
constexpr long long kMemoBlockHeader = 8;
constexpr std::size_t kExampleCharacters = 40;
// A table's line length is judged after a twentieth of its rows (at least 2000): late rows are
// often a little longer than early ones (numbers gain digits), so a tenth more than their
// average is announced, and the room made once suffices.
constexpr long long kRowsBeforeEstimate = 2000;
constexpr long long kEstimateShareDivisor = 20;
constexpr long long kEstimateMarginPercent = 110;

// Bytes of the .dbf a table of memo/blob columns and `rows` rows takes.
long long DbfBytes(std::size_t columns, long long rows) {
  const long long header = 32 + 32 * static_cast<long long>(columns) + 1 + 263;
  return header + rows * (1 + 4 * static_cast<long long>(columns)) + 1;
}

// Bytes of the .dbf of a typed table of `rows` rows.
long long TypedDbfBytes(const std::vector<TypedField>& fields, long long rows) {
  long long record = 1;
  bool nulls = false;
  for (const auto& f : fields) {
    nulls = nulls || f.nullable;
    switch (f.type) {
      case 'C':
      case 'V':
      case 'N':
        record += f.width;
        break;
      case 'L':
        record += 1;
        break;
      case 'I':
      case 'M':
        record += 4;
        break;
      default:
        record += 8;
    }
  }
  if (nulls) record += (static_cast<long long>(fields.size()) + 7) / 8;
  return 32 + 32 * static_cast<long long>(fields.size() + (nulls ? 1 : 0)) + 1 + 263 +
         rows * record + 1;
}

// A typed table of the run, for the relations added once every table is in.
struct TypedTableMade {
  std::string mysqlName;
  std::string reference;  // the FoxPro table as the commands name it, delimited
  std::vector<TypedTag> tags;
  std::vector<MySqlForeignKeyShape> foreignKeys;
};

// What the report says about one column.
struct ColumnFacts {
  long long nulls = 0;
  long long unholdable = 0;  // characters written as "?"
  std::string example;       // the first value holding one, shortened
};

struct TableReport {
  std::string heading;
  std::vector<std::string> lines;
};

std::string Shortened(const std::string& utf8) {
  QString q = QString::fromStdString(utf8);
  if (q.size() <= qsizetype(kExampleCharacters)) return utf8;
  return q.left(qsizetype(kExampleCharacters)).toStdString() + "...";
}

bool IsAscii(const std::string& s) { return vfp::asciiPrefix(s) == s.size(); }

std::string CodePageName(int codePage) { return "code page " + std::to_string(codePage); }

}  // namespace

namespace {

constexpr const char* kBuildSuffix = "_qmnew";

// The name a replacing table is built under: its own with kBuildSuffix, then a number, until
// taken() says no table has it; cut, at a character's start, to what a container keeps.
std::string BuildName(const std::string& name,
                      const std::function<bool(const std::string&)>& taken) {
  for (int n = 1;; ++n) {
    const std::string suffix = kBuildSuffix + (n == 1 ? std::string() : std::to_string(n));
    std::string stem = name;
    const std::size_t room = vfp::names::kMaxStem - suffix.size();
    if (stem.size() > room) {
      stem.resize(room);
      while (!stem.empty() && (static_cast<unsigned char>(stem.back()) & 0xC0) == 0x80)
        stem.pop_back();
      if (!stem.empty() && static_cast<unsigned char>(stem.back()) >= 0xC0) stem.pop_back();
    }
    if (!taken(stem + suffix)) return stem + suffix;
  }
}

}  // namespace

HalfWrittenTableJob::HalfWrittenTableJob(std::string table, std::string path,
                                         const std::string& created, const std::string& inserted,
                                         bool replacing)
    : table_(std::move(table)),
      path_(std::move(path)),
      createPrefix_("CREATE TABLE " + created),
      insertPrefix_("INSERT INTO " + inserted + " VALUES("),
      usePrefix_("USE " + inserted),
      alterPrefix_("ALTER TABLE " + inserted + " "),
      drop_("DROP TABLE " + inserted),
      replacing_(replacing) {}

bool HalfWrittenTableJob::runsAfter(const std::string& line) const {
  return line.compare(0, createPrefix_.size(), createPrefix_) == 0 &&
         line.size() > createPrefix_.size() &&
         (line[createPrefix_.size()] == '(' || line[createPrefix_.size()] == ' ');
}

bool HalfWrittenTableJob::settledBy(std::string_view line) const {
  // A typed table's autoincrement and tags come after its rows and are as much a part of it.
  auto starts = [&](const std::string& prefix) { return line.substr(0, prefix.size()) == prefix; };
  return !starts(insertPrefix_) && !starts(usePrefix_) && !starts(alterPrefix_) &&
         !line.starts_with("INDEX ON ");
}

void HalfWrittenTableJob::undo(ado::Connection& target, std::vector<std::string>& notes) {
  const std::string file = path_.substr(path_.find_last_of("/\\") + 1);
  const std::string head =
      replacing_ ? "The new copy of table " + table_ +
                       " was not complete when the run ended: its file " + file
                 : "The table " + table_ + " was not complete when the run ended: its file " + file;
  try {
    target.execute(drop_);
    notes.push_back(head + " was removed" +
                    (replacing_ ? ", and " + table_ + " is as it was." : "."));
  } catch (const std::exception& e) {
    notes.push_back(head + " could not be removed (" + e.what() +
                    "); executing the script again replaces it" +
                    (replacing_ ? ", and " + table_ + " is as it was." : "."));
  }
}

FoxproScriptSummary BuildFoxproScript(ado::Connection& mysql,
                                      const std::vector<std::string>& tables,
                                      const std::string& targetFolder,
                                      const FoxproScriptHooks& hooks) {
  FoxproTarget target;
  target.folder = targetFolder;
  return BuildFoxproScript(mysql, tables, target, hooks);
}

FoxproScriptSummary BuildFoxproScript(ado::Connection& mysql,
                                      const std::vector<std::string>& tables,
                                      const FoxproTarget& target, const FoxproScriptHooks& hooks) {
  FoxproScriptSummary summary;
  const bool examine = static_cast<bool>(hooks.report);
  const auto converter = vfp::converterFor(target.codePage);
  std::vector<TableReport> reports;
  long long tableCommands = 0;  // handed out for the table being read
  auto hand = [&](std::string_view command) {
    hooks.command(command);
    ++summary.commands;
    ++tableCommands;
  };
  std::vector<TypedTableMade> typedMade;
  std::set<std::string> stems;  // file names given in this run, letter case ignored
  std::string command;          // one buffer for every row, so a row costs no allocation once warm
  std::string scratch;
  for (const std::string& table : tables) {
    tableCommands = 0;
    TableReport report;
    report.heading = "Table " + table;
    auto leaveOut = [&](const std::string& reason) {
      report.lines.push_back("left out of the script: " + reason);
      ++summary.tablesLeftOut;
      reports.push_back(std::move(report));
    };

    // The file the table becomes: inside the target folder, and apart from the others of this
    // run (two MySQL names may make the same file name).
    FoxproNames::Renamed file = FoxproNames::TableFileStem(table);
    if (stems.count(FoxproNames::UpperKey(file.name))) {
      std::string stem;
      for (int k = 2;
           stems.count(FoxproNames::UpperKey(stem = file.name + "_" + std::to_string(k))); ++k) {
      }
      file.name = stem;
      file.why += std::string(file.why.empty() ? "" : "; ") +
                  "another table of this run has that file name";
    }
    const std::string targetPath = target.folder + file.name + ".DBF";
    const auto created = FoxproNames::Delimited(targetPath, '\'');
    const auto inserted = FoxproNames::Delimited(targetPath, '[');
    if (!created || !inserted) {
      leaveOut("its file path holds every delimiter a FoxPro command has (] ' \" `)");
      continue;
    }

    const std::string source = ado::quoteMySqlName(table);
    // The columns first, without rows: a question about a column name must not keep a
    // streaming result waiting on the server.
    std::vector<std::string> names;
    std::vector<int> types;
    long long total = 0;
    ado::RecordSet rows;
    try {
      rows.open("SELECT * FROM " + source + " LIMIT 0", mysql, ado::adOpenForwardOnly,
                ado::adLockReadOnly);
      for (int f = 0; f < rows.fieldCount(); ++f) {
        names.push_back(rows.field(f).name);
        types.push_back(rows.field(f).type);
      }
      rows.close();
      ado::RecordSet count(mysql.execute("SELECT COUNT(*) FROM " + source));
      total = std::stoll(count.value(0).toText());
    } catch (const ado::DataAccessError& e) {
      leaveOut(std::string("it cannot be read: ") + e.what());
      continue;
    }
    const std::size_t fieldCount = names.size();
    if (fieldCount > FoxproNames::kMaxFields) {
      leaveOut("it has " + std::to_string(fieldCount) + " columns and a FoxPro table at most " +
               std::to_string(FoxproNames::kMaxFields));
      continue;
    }
    if (fieldCount == 0) {
      leaveOut("it has no columns");
      continue;
    }
    if (DbfBytes(fieldCount, total) > kFoxproFileLimit) {
      leaveOut("its " + std::to_string(total) +
               " rows would make a table file beyond FoxPro's 2 GB");
      continue;
    }

    MySqlTableShape shape;
    std::vector<TypedField> typedFields;
    if (hooks.typed) {
      std::vector<std::size_t> timeWidths;
      try {
        shape = ReadMySqlTableShape(mysql, table);
        timeWidths = TypedTimeWidths(mysql, table, shape);
      } catch (const ado::DataAccessError& e) {
        leaveOut(std::string("its columns cannot be read: ") + e.what());
        continue;
      }
      bool same = shape.columns.size() == fieldCount;
      for (std::size_t f = 0; same && f < fieldCount; ++f) same = shape.columns[f].name == names[f];
      if (!same) {
        leaveOut("the table changed while it was being read");
        continue;
      }
      for (std::size_t f = 0; f < fieldCount; ++f)
        typedFields.push_back(MapMySqlColumn(shape.columns[f], target.codePage, timeWidths[f]));
      if (TypedDbfBytes(typedFields, total) > kFoxproFileLimit) {
        leaveOut("its " + std::to_string(total) +
                 " rows would make a table file beyond FoxPro's 2 GB");
        continue;
      }
    }

    stems.insert(FoxproNames::UpperKey(file.name));
    if (!file.why.empty()) report.lines.push_back("file " + file.name + ".DBF (" + file.why + ")");

    // A table that replaces another is built under a name of its own and takes the old one's
    // place once complete, so a run that breaks off leaves the old table as it was.
    const bool replacing = hooks.targetHas(file.name);
    if (replacing && !hooks.confirmOverwrite(file.name)) {
      ++summary.tablesDeclined;
      stems.erase(FoxproNames::UpperKey(file.name));
      continue;
    }
    std::string buildName = file.name;
    std::optional<std::size_t> replacementLine;  // in the report, said only of a table that goes
    if (replacing) {
      buildName = BuildName(file.name, [&](const std::string& n) {
        return stems.count(FoxproNames::UpperKey(n)) > 0 || hooks.targetHas(n);
      });
      stems.insert(FoxproNames::UpperKey(buildName));
      replacementLine = report.lines.size();
      report.lines.push_back("replaces the FoxPro table " + file.name + ": built as " + buildName +
                             ".DBF, which takes its place once complete");
    }
    const std::string buildPath = target.folder + buildName + ".DBF";
    const auto buildCreated = FoxproNames::Delimited(buildPath, '\'');
    const auto buildInserted = FoxproNames::Delimited(buildPath, '[');
    if (!buildCreated || !buildInserted) {
      leaveOut("its file path holds every delimiter a FoxPro command has (] ' \" `)");
      continue;
    }

    // Field names FoxPro takes. A name that reads as a number is the user's to choose, as
    // before; whatever comes back is then made valid like any other.
    std::vector<std::string> wanted;
    std::vector<std::string> asked(fieldCount);
    for (std::size_t f = 0; f < fieldCount; ++f) {
      const std::string bare = FoxproScript::BareName(FoxproScript::ColumnEntry(names[f]));
      if (FoxproScript::IsNumericName(bare)) {
        asked[f] = hooks.renameNumericColumn(bare);
        wanted.push_back(asked[f]);
      } else {
        wanted.push_back(names[f]);
      }
    }
    const auto fieldNames = FoxproNames::FieldNames(wanted, !target.container, target.codePage);
    std::vector<std::string> entries;
    for (std::size_t f = 0; f < fieldCount; ++f) {
      entries.push_back("[" + fieldNames[f].name + "]");
      if (fieldNames[f].name == names[f]) continue;
      std::string why = fieldNames[f].why;
      if (!asked[f].empty() ||
          FoxproScript::IsNumericName(FoxproScript::BareName(FoxproScript::ColumnEntry(names[f]))))
        why = "the name reads as a number; renamed as asked" + (why.empty() ? "" : "; " + why);
      report.lines.push_back("column " + names[f] + " -> " + fieldNames[f].name +
                             (why.empty() ? "" : " (" + why + ")"));
    }
    if (hooks.typed) {
      std::string create = "CREATE TABLE " + *buildCreated;
      if (target.codePage != vfp::kDefaultCodePage)
        create += " CODEPAGE = " + std::to_string(target.codePage);
      for (std::size_t f = 0; f < fieldCount; ++f) {
        const std::string clause = FieldTypeClause(typedFields[f]);
        create += (f ? ", " : "(") + entries[f] + " " + clause;
        if (!typedFields[f].note.empty())
          report.lines.push_back("column " + fieldNames[f].name + " " + clause + ": " +
                                 typedFields[f].note);
      }
      hand(create + ")");
    } else {
      hand(FoxproScript::CreateCommand(*buildCreated, entries, types, target.codePage));
    }

    std::vector<ColumnFacts> facts(fieldCount);
    std::vector<TypedValueFacts> valueFacts(fieldCount);
    long long memoBytes = 512;
    const std::string prefix = "INSERT INTO " + *buildInserted + " VALUES(";
    hooks.progress(0, total);
    long long done = 0;
    long long rowBytes = 0;
    try {
      rows.open("SELECT * FROM " + source, mysql, ado::adOpenForwardOnly, ado::adLockReadOnly);
      if (std::size_t(rows.fieldCount()) != fieldCount)
        throw ado::DataAccessError("the table changed while it was being read");
      while (!rows.eof()) {
        command.assign(prefix);
        for (std::size_t f = 0; f < fieldCount; ++f) {
          if (f) command += ", ";
          const ado::Value& v = rows.value(int(f));
          const int type = types[f];
          if (hooks.typed)
            AppendTypedLiteral(command, v, typedFields[f], valueFacts[f]);
          else
            FoxproScript::AppendLiteral(command, v, type);
          if (!examine) continue;
          if (v.isNull()) {
            ++facts[f].nulls;
            continue;
          }
          const bool inPlace = v.kind() == ado::Value::Kind::Text ||
                               v.kind() == ado::Value::Kind::Decimal ||
                               v.kind() == ado::Value::Kind::Bytes;
          const std::size_t size = inPlace ? v.asString().size() : 24;
          if (size > 0 && (!hooks.typed || typedFields[f].type == 'M'))
            memoBytes += (kMemoBlockHeader + static_cast<long long>(size) + kMemoBlock - 1) /
                         kMemoBlock * kMemoBlock;
          if (v.kind() == ado::Value::Kind::Text && !FoxproScript::IsBinaryType(type) &&
              !IsAscii(v.asString())) {
            scratch.clear();
            if (std::size_t lost = converter->fromUtf8(v.asString(), scratch)) {
              if (facts[f].unholdable == 0) facts[f].example = Shortened(v.asString());
              facts[f].unholdable += static_cast<long long>(lost);
            }
          }
        }
        command += ')';
        hand(command);
        rows.moveNext();
        // Rows added meanwhile may outnumber the count; the bar stops at its end.
        ++done;
        rowBytes += static_cast<long long>(command.size()) + 2;
        if (done == std::max(kRowsBeforeEstimate, total / kEstimateShareDivisor) && hooks.expect &&
            total > done)
          hooks.expect(rowBytes / done * (total - done) * kEstimateMarginPercent / 100);
        hooks.progress(std::min(done, total), total);
      }
      rows.close();
    } catch (const ado::DataAccessError& e) {
      // A table read in part would arrive as if whole, and with an accepted overwrite replace a
      // complete one: none of its commands stay in the script.
      const std::string why = "reading stopped after " + std::to_string(done) + " of " +
                              std::to_string(total) + " rows (" + e.what() + ")";
      if (!hooks.withdraw) throw ado::DataAccessError("Table " + table + ": " + why + ".");
      hooks.withdraw(tableCommands);
      summary.commands -= tableCommands;
      if (replacementLine)
        report.lines.erase(report.lines.begin() + std::ptrdiff_t(*replacementLine));
      leaveOut(why + "; nothing of it is sent, and the FoxPro side keeps what it has");
      continue;
    }
    for (std::size_t f = 0; f < fieldCount; ++f) {
      const std::string& column = fieldNames[f].name;
      if (facts[f].unholdable)
        report.lines.push_back("column " + column + ": " + std::to_string(facts[f].unholdable) +
                               " characters " + CodePageName(target.codePage) +
                               " cannot hold are written as \"?\" (first in \"" + facts[f].example +
                               "\")");
      if (valueFacts[f].zeroDates)
        report.lines.push_back("column " + column + ": " + std::to_string(valueFacts[f].zeroDates) +
                               " dates FoxPro cannot hold (0000-00-00 and the like) are written "
                               "as empty dates");
      if (valueFacts[f].fractionsLost)
        report.lines.push_back("column " + column + ": " +
                               std::to_string(valueFacts[f].fractionsLost) +
                               " values lose their fractions of a second");
      if (facts[f].nulls && !hooks.typed)
        report.lines.push_back("column " + column + ": " + std::to_string(facts[f].nulls) +
                               " NULLs are written as empty text");
    }
    if (examine && memoBytes > kFoxproFileLimit)
      report.lines.push_back("its memo file would pass FoxPro's 2 GB (about " +
                             std::to_string(memoBytes / (1024 * 1024)) +
                             " MB); Execute will stop at this table");
    if (hooks.typed) {
      // Made after the rows: an autoincrementing field would refuse the rows' own values, and
      // tags are written once rather than grown row by row.
      for (std::size_t f = 0; f < fieldCount; ++f) {
        if (!typedFields[f].autoInc) continue;
        std::string line =
            "ALTER TABLE " + *buildInserted + " ALTER COLUMN " + entries[f] + " I AUTOINC";
        if (shape.autoIncrementNext && *shape.autoIncrementNext <= 2147483647ULL)
          line += " NEXTVALUE " + std::to_string(*shape.autoIncrementNext);
        hand(line);
      }
      std::vector<std::string> plain;
      for (const auto& n : fieldNames) plain.push_back(n.name);
      std::vector<TypedTag> tags =
          PlanTypedTags(shape, typedFields, plain, target.container, report.lines);
      bool used = false;
      for (const auto& tag : tags) {
        if (tag.kind == TypedTag::Kind::Primary) {
          hand("ALTER TABLE " + *buildInserted + " ADD PRIMARY KEY " + tag.expression + " TAG " +
               tag.name);
          continue;
        }
        if (!used) hand("USE " + *buildInserted);
        used = true;
        hand("INDEX ON " + tag.expression + " TAG " + tag.name +
             (tag.kind == TypedTag::Kind::Candidate ? " CANDIDATE" : ""));
      }
      if (used) hand("USE");
      typedMade.push_back({table, *inserted, std::move(tags), shape.foreignKeys});
    }
    if (replacing) {
      // The old table goes only now, and the new one takes its name at once.
      const std::string lower = FoxproListedName(file.name);
      hand("DROP TABLE " + FoxproNames::Delimited(lower).value_or("[" + lower + "]"));
      hooks.tableDropped(lower);
      hand("RENAME TABLE " + *buildInserted + " TO " +
           FoxproNames::Delimited(file.name).value_or("[" + file.name + "]"));
    }
    if (hooks.job)
      hooks.job(std::make_unique<HalfWrittenTableJob>(file.name, buildPath, *buildCreated,
                                                      *buildInserted, replacing));
    if (!report.lines.empty()) reports.push_back(std::move(report));
    ++summary.tablesScripted;
    hooks.tableScripted(file.name);
  }

  // Relations join tables of one database, so they are made once every table of the run is in,
  // between the tags its keys became.
  TableReport relations;
  relations.heading = "Relations";
  for (const auto& child : typedMade) {
    for (const auto& fk : child.foreignKeys) {
      const std::string what = "foreign key " + fk.name + " of " + child.mysqlName + " (to " +
                               fk.parent + ") is not sent: ";
      if (!target.container) {
        relations.lines.push_back(what + "free tables have no relations");
        continue;
      }
      const TypedTableMade* parent = nullptr;
      for (const auto& p : typedMade)
        if (p.mysqlName == fk.parent) parent = &p;
      if (!parent) {
        relations.lines.push_back(what + "its table is not sent in this run");
        continue;
      }
      auto sameColumns = [](const std::vector<std::string>& a, const std::vector<std::string>& b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
          if (!vfp::equalsNoCase(a[i], b[i])) return false;
        return true;
      };
      const TypedTag* childTag = nullptr;
      const TypedTag* parentTag = nullptr;
      for (const auto& t : child.tags)
        if (!childTag && sameColumns(t.columns, fk.columns)) childTag = &t;
      for (const auto& t : parent->tags)
        if (!parentTag && t.kind != TypedTag::Kind::Regular &&
            sameColumns(t.columns, fk.parentColumns))
          parentTag = &t;
      if (!childTag || !parentTag) {
        relations.lines.push_back(what + (childTag ? "the columns it refers to have no primary or "
                                                     "candidate tag"
                                                   : "its columns have no tag of their own"));
        continue;
      }
      hand("ALTER TABLE " + child.reference + " ADD FOREIGN KEY TAG " + childTag->name +
           " REFERENCES " + parent->reference + " TAG " + parentTag->name);
    }
  }
  if (!relations.lines.empty()) reports.push_back(std::move(relations));

  std::string text = "New FoxPro tables get " + CodePageName(target.codePage) +
                     (target.codePageReason.empty() ? "" : " (" + target.codePageReason + ")") +
                     ".\n";
  if (reports.empty()) text += kNothingChanges;
  for (const auto& r : reports) {
    text += r.heading + ":\n";
    for (const auto& line : r.lines) text += "  " + line + "\n";
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  summary.report = text;
  if (hooks.report) hooks.report(text);
  return summary;
}

}  // namespace transfer
