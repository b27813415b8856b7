#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

#include "ado/foxpro_access.h"
#include "ado/mysql_session.h"
#include "transfer/foxpro_to_mysql.h"
#include "transfer/mysql_script.h"
#include "vfp/database.h"
#include "vfp/table.h"

// The report before Execute of a FoxPro-to-MySQL script: what the MySQL tables will show
// differently from the FoxPro ones, and the rows too large for the server they go to.

namespace transfer {

namespace {

// Records named one by one in the report: the first few, and how many more.
std::string RecordList(const std::vector<std::uint32_t>& records, long long count) {
  std::string text = count == 1 ? "record " : "records ";
  for (std::size_t k = 0; k < records.size(); ++k)
    text += (k ? ", " : "") + std::to_string(records[k]);
  if (count > (long long)records.size())
    text += " and " + std::to_string(count - (long long)records.size()) + " more";
  return text;
}

// Spaces, an optional "-", then digits with at most one point among them, to the field's end.
bool PlainStoredNumber(std::string_view raw) {
  std::size_t i = raw.find_first_not_of(' ');
  if (i == std::string_view::npos) return false;
  if (raw[i] == '-') ++i;
  bool digit = false, point = false;
  for (; i < raw.size(); ++i) {
    const char ch = raw[i];
    if (ch >= '0' && ch <= '9')
      digit = true;
    else if (ch == '.' && !point)
      point = true;
    else
      return false;
  }
  return digit;
}

}  // namespace

std::vector<std::string> FoxproTableReport(const std::string& foxproConnectionString,
                                           const std::string& table,
                                           const std::vector<ado::FieldInfo>& fields,
                                           const std::function<void(int percent)>& progress,
                                           bool typed, std::vector<bool>* arrivesNull) {
  std::vector<std::string> lines;
  if (arrivesNull) arrivesNull->assign(fields.size(), false);
  const auto catalog =
      vfp::openCatalog(ado::ConnectionString::parse(foxproConnectionString).get("Data Source"));
  const auto path = catalog->findTable(table);
  if (!path) return lines;
  vfp::Table t(*path);
  // Values named by their record numbers (RECNO()), the first few of them.
  constexpr std::size_t kRecordsNamed = 10;
  struct Column {
    std::size_t column;  // index into fields
    std::size_t field;   // index into the header's fields
    std::string name;    // as MySQL will name it
    char type;
    int digits = 0;           // digits DECIMAL keeps before the point (N, F)
    long long marks = 0;      // overflow marks
    long long wide = 0;       // values wider than the column
    long long blank = 0;      // blank dates or numbers, not null-flagged
    long long notNumber = 0;  // N, F text that reads as no number
    long long unheld = 0;     // B values MySQL cannot hold (infinite, NaN), or memos that
                              // cannot be read
    std::vector<std::uint32_t> records = {};  // of the unheld ones
    std::string why = {};                     // the first memo's reason
  };
  std::vector<Column> columns;
  const auto& user = t.userFields();
  for (std::size_t k = 0; k < user.size() && k < fields.size(); ++k) {
    const auto& f = t.header().fields[std::size_t(user[k])];
    const std::string& name = fields[k].name;
    // Typed columns hold these as MySQL's own types.
    if (!typed) switch (f.type) {
        case 'Y':
          lines.push_back("column " + name + ": currency goes as text (12.5000), as always");
          break;
        case 'D':
          lines.push_back("column " + name + ": dates go as text (2024-01-31), as always");
          break;
        case 'T':
          lines.push_back("column " + name +
                          ": date-times go as text (2024-01-31 08:30:00), as always");
          break;
        default:
          break;
      }
    if (f.type == 'N' || f.type == 'F' || (f.type == 'B' && f.length == 8) || f.isMemo() ||
        ((f.type == 'D' || f.type == 'T') && !f.isNullable())) {
      Column c{k, std::size_t(user[k]), name, f.type};
      const std::string sql = MySqlScript::ColumnType(fields[k]);  // DECIMAL(p,s)
      const auto open = sql.find('('), comma = sql.find(',');
      if (open != std::string::npos && comma != std::string::npos)
        c.digits = std::stoi(sql.substr(open + 1)) - std::stoi(sql.substr(comma + 1));
      columns.push_back(c);
    }
  }
  if (!columns.empty()) {
    vfp::RecordScanner scan(t);
    vfp::Value value;
    // A million records take a good part of a second: the caller hears of the progress often
    // enough to keep its window answering.
    constexpr std::uint32_t kRecordsPerProgress = 8192;
    std::uint32_t untilProgress = kRecordsPerProgress;
    while (const std::uint8_t* rec = scan.nextLive()) {
      if (--untilProgress == 0) {
        untilProgress = kRecordsPerProgress;
        if (progress) progress(int(std::uint64_t(scan.recno()) * 100 / t.recordCount()));
      }
      for (auto& c : columns) {
        const auto& f = t.header().fields[c.field];
        const char* p = reinterpret_cast<const char*>(rec) + f.offset;
        if (f.isMemo()) {
          // A memo file cut short, or a pointer into nowhere: the rest of the table still goes,
          // this value as NULL. Only the memo's block header is read.
          std::string why = t.memoProblem(rec, c.field);
          if (why.empty()) continue;
          if (c.records.size() < kRecordsNamed) c.records.push_back(scan.recno() + 1);
          if (!c.unheld++) c.why = std::move(why);
          continue;
        }
        if (c.type == 'B') {
          // The exponent's bits all set: infinite or NaN, which FoxPro holds and MySQL's
          // DOUBLE does not; the copy sends them as NULL.
          if ((rec[f.offset + 7] & 0x7F) != 0x7F || (rec[f.offset + 6] & 0xF0) != 0xF0) continue;
          if (t.isNullFlagged(rec, c.field)) continue;
          if (c.records.size() < kRecordsNamed) c.records.push_back(scan.recno() + 1);
          ++c.unheld;
          continue;
        }
        if (c.type == 'D' || c.type == 'T') {
          // Blank is spaces (as FoxPro writes a D) or zeros (as it writes a T); other tools
          // use either.
          if (std::all_of(p, p + f.length, [](char ch) { return ch == ' ' || ch == 0; })) ++c.blank;
          continue;
        }
        const std::string_view raw(p, f.length);
        if (raw.find('*') != std::string_view::npos) {
          ++c.marks;
          continue;
        }
        if (raw.find_first_not_of(' ') == std::string_view::npos) {
          // FoxPro reads a blank number as 0; MySQL gets NULL. A null-flagged one is NULL on
          // both sides.
          if (!t.isNullFlagged(rec, c.field)) ++c.blank;
          continue;
        }
        // The shape FoxPro writes always reads as a number of at most the field's digits; only
        // other shapes (an exponent, stray characters) are decoded.
        if (PlainStoredNumber(raw)) continue;
        t.decodeField(rec, c.field, value);
        if (value.kind != vfp::Value::Kind::Decimal) {
          if (!t.isNullFlagged(rec, c.field)) ++c.notNumber;
          continue;
        }
        std::string_view digits = value.s;
        if (!digits.empty() && digits[0] == '-') digits.remove_prefix(1);
        if (int(digits.substr(0, digits.find('.')).size()) > c.digits) ++c.wide;
      }
    }
    for (const auto& c : columns) {
      if (arrivesNull && (c.marks || c.notNumber || c.blank || c.unheld))
        (*arrivesNull)[c.column] = true;
      if (c.marks)
        lines.push_back("column " + c.name + ": " + std::to_string(c.marks) +
                        " overflow marks (*) arrive as NULL");
      if (c.wide)
        lines.push_back("column " + c.name + ": " + std::to_string(c.wide) +
                        " values are too wide for the column; their rows will be refused");
      if (c.notNumber)
        lines.push_back("column " + c.name + ": " + std::to_string(c.notNumber) +
                        " values that read as no number arrive as NULL");
      if (c.blank)
        lines.push_back("column " + c.name + ": " + std::to_string(c.blank) +
                        (c.type == 'D' || c.type == 'T' ? " blank dates" : " blank numbers") +
                        " arrive as NULL");
      if (c.unheld && !c.why.empty())
        lines.push_back("column " + c.name + ": " + MemoCount(c.unheld) +
                        " cannot be read and arrive as NULL (" + RecordList(c.records, c.unheld) +
                        "): " + c.why);
      else if (c.unheld)
        lines.push_back("column " + c.name + ": " + std::to_string(c.unheld) +
                        " infinite or NaN values, which MySQL cannot hold, arrive as NULL (" +
                        RecordList(c.records, c.unheld) + ")");
    }
  }
  return lines;
}

std::optional<TargetServer> AskTargetServer(const std::string& mysqlConnectionString) {
  try {
    ado::Connection c;
    c.open(mysqlConnectionString);
    ado::MySqlSession* session = ado::mysqlSessionOf(c);
    if (!session) return std::nullopt;
    auto rows = session->query("SELECT @@local_infile, @@max_allowed_packet, @@version");
    if (rows.empty() || rows[0].size() < 3) return std::nullopt;
    TargetServer server;
    const std::string local = rows[0][0].value_or("");
    server.localLoading = local == "1" || local == "ON";
    if (rows[0][1]) server.maxAllowedPacket = std::stoll(*rows[0][1]);
    server.compoundStatements = rows[0][2].value_or("").find("MariaDB") != std::string::npos;
    return server;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::vector<std::string> OversizedRowsReport(const std::string& foxproConnectionString,
                                             const std::string& table,
                                             const std::vector<ado::FieldInfo>& fields,
                                             long long maxPacket) {
  std::vector<std::string> lines;
  if (maxPacket <= 0) return lines;
  const auto catalog =
      vfp::openCatalog(ado::ConnectionString::parse(foxproConnectionString).get("Data Source"));
  const auto path = catalog->findTable(table);
  if (!path) return lines;
  vfp::Table t(*path);
  const long long room = maxPacket - kStatementRoom - (long long)t.header().recordLength;
  // No row can be too large when the whole memo file would fit in one statement.
  if ((long long)t.memoFileSize() <= room) return lines;
  std::vector<std::pair<std::size_t, std::string>> memos;  // header index, name as MySQL has it
  const auto& user = t.userFields();
  for (std::size_t k = 0; k < user.size() && k < fields.size(); ++k)
    if (t.header().fields[std::size_t(user[k])].isMemo())
      memos.emplace_back(std::size_t(user[k]), fields[k].name);
  constexpr int kMostNamed = 20;
  long long more = 0;
  vfp::RecordScanner scan(t);
  while (const std::uint8_t* rec = scan.nextLive()) {
    long long sum = 0, largest = -1;
    const std::string* field = nullptr;
    for (const auto& [index, name] : memos) {
      const long long n = (long long)t.memoLength(rec, index);
      sum += n;
      if (n > largest) largest = n, field = &name;
    }
    if (sum <= room || !field) continue;
    if (int(lines.size()) >= kMostNamed) {
      ++more;
      continue;
    }
    lines.push_back("record " + std::to_string(scan.recno() + 1) + ", field " + *field + ": " +
                    std::to_string(largest) +
                    " bytes, more than one INSERT statement may carry on this server "
                    "(max_allowed_packet is " +
                    std::to_string(maxPacket) + " bytes); the row will be refused");
  }
  if (more) lines.push_back("and " + std::to_string(more) + " more records with memos that large");
  return lines;
}

std::string FoxproToMySqlReport(
    const std::vector<std::pair<std::string, std::vector<std::string>>>& tables) {
  std::string text;
  for (const auto& [table, lines] : tables) {
    if (lines.empty()) continue;
    text += "Table " + table + ":\n";
    for (const auto& line : lines) text += "  " + line + "\n";
  }
  if (text.empty()) return "Nothing in this script changes or drops a value.";
  text.pop_back();
  return text;
}

}  // namespace transfer
