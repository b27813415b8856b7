// FoxPro tables sent to MySQL where servers and tables are awkward: numbers wider than their
// declared decimals, a server without strict mode, a MyISAM table that keeps half a refused
// statement, a connection lost in the middle, a latin1 database. Nothing may arrive changed or
// twice without a note.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "foxpro_to_mysql_support.h"
#include "ado/mysql_session.h"
#include "support/mysql_sandbox.h"
#include "transfer/mysql_script.h"

using namespace tomysql_test;
using transfer::ScriptTable;

namespace {

// Overwrites the bytes of one field of one record in a .dbf file, as another program (or FoxPro
// itself on overflow) may have stored them.
void PatchField(const std::string& dbf, int record, int fieldOffset, const std::string& bytes) {
  std::fstream f(dbf, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(f) << dbf;
  unsigned char h[12];
  f.read(reinterpret_cast<char*>(h), sizeof h);
  const int headerLength = h[8] | (h[9] << 8);
  const int recordLength = h[10] | (h[11] << 8);
  f.seekp(headerLength + record * recordLength + fieldOffset);
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

class FoxproToMySqlEdges : public qmtest::MySqlDatabaseTest {
 protected:
  CollectedScript Script(const std::string& folder, const std::string& table) {
    ado::Connection fox;
    fox.open(FolderConnection(folder));
    CollectedScript script;
    script.add(ScriptTable(fox, FolderConnection(folder), table, false));
    return script;
  }
  // 1000 rows (n, s); the rows in `bad` hold a text too long for the VARCHAR(3) the user put
  // into the preview.
  void ManyRows(const std::string& folder, const std::vector<int>& bad) {
    std::vector<std::string> statements = {"CREATE TABLE many (n I, s C(10))"};
    for (int r = 0; r < 1000; ++r)
      statements.push_back("INSERT INTO many VALUES (" + std::to_string(r) + ", '" +
                           (std::find(bad.begin(), bad.end(), r) != bad.end() ? "toolong" : "ok") +
                           "')");
    Fox(folder, statements);
  }
};

TEST_F(FoxproToMySqlEdges, NumbersWiderThanTheirDecimalsArriveAndOverflowMarksBecomeNull) {
  TempFolder dir;
  Fox(dir.path, {"CREATE TABLE wide (n N(7,2), f F(6,1))", "INSERT INTO wide VALUES (12.5, 1.5)",
                 "INSERT INTO wide VALUES (1, 1)", "INSERT INTO wide VALUES (2, 2)"});
  // FoxPro stores a value too wide for its decimals without them, and one too wide for the
  // field at all as a row of asterisks.
  PatchField(dir.path + "/wide.dbf", 1, 1, "1234567");
  PatchField(dir.path + "/wide.dbf", 1, 8, "-99999");
  PatchField(dir.path + "/wide.dbf", 2, 1, "*******");
  ado::Connection fox;
  fox.open(FolderConnection(dir.path));
  auto part = ScriptTable(fox, FolderConnection(dir.path), "wide", false);
  EXPECT_EQ(transfer::FoxproToMySqlReport({{"wide", part.report}}),
            "Table wide:\n  column n: 1 overflow marks (*) arrive as NULL");
  CollectedScript script;
  script.add(std::move(part));
  auto run = Execute(script.lines, script.jobs, connectionString());
  EXPECT_TRUE(run.notes.empty()) << run.notes.front();
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM wide"),
            (std::vector<std::vector<std::string>>{
                {"12.50", "1.5"}, {"1234567.00", "-99999.0"}, {"<null>", "2.0"}}));
}

TEST_F(FoxproToMySqlEdges, BlankNumbersAndInfiniteDoublesAreNamedBeforeAndArriveAsNull) {
  TempFolder dir;
  Fox(dir.path, {"CREATE TABLE odd (n N(6,2), r B, k N(4,0) NULL)",
                 "INSERT INTO odd VALUES (1.5, 0.25, NULL)", "INSERT INTO odd VALUES (2, 2, 2)",
                 "INSERT INTO odd VALUES (3, 3, 3)", "INSERT INTO odd VALUES (4, 4, 4)"});
  // FoxPro reads a field of spaces as 0 and holds infinities; MySQL has neither.
  const std::string dbf = dir.path + "/odd.dbf";
  PatchField(dbf, 1, 1, "      ");
  PatchField(dbf, 2, 7, std::string("\0\0\0\0\0\0\xF0\x7F", 8));  // +infinity
  PatchField(dbf, 3, 7, std::string("\0\0\0\0\0\0\xF8\xFF", 8));  // NaN
  PatchField(dbf, 3, 1, "      ");
  ado::Connection fox;
  fox.open(FolderConnection(dir.path));
  auto part = ScriptTable(fox, FolderConnection(dir.path), "odd", false);
  // k's null flag makes its first value NULL on both sides: not worth a word.
  EXPECT_EQ(transfer::FoxproToMySqlReport({{"odd", part.report}}),
            "Table odd:\n"
            "  column n: 2 blank numbers arrive as NULL\n"
            "  column r: 2 infinite or NaN values, which MySQL cannot hold, arrive as NULL "
            "(records 3, 4)");
  CollectedScript script;
  script.add(std::move(part));
  auto run = Execute(script.lines, script.jobs, connectionString());
  EXPECT_TRUE(run.notes.empty()) << run.notes.front();
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM odd"),
            (std::vector<std::vector<std::string>>{{"1.50", "0.25", "<null>"},
                                                   {"<null>", "2", "2"},
                                                   {"3.00", "<null>", "3"},
                                                   {"<null>", "<null>", "4"}}));
}

TEST_F(FoxproToMySqlEdges, ADamagedMemoFileLosesOnlyTheMemosItCannotGiveAndNamesThem) {
  const std::string fixture = QM_FIXTURES_DIR "/VFPX__Samples/Northwind/employees";
  auto copy = [&](const std::string& to) {
    for (const char* ext : {".dbf", ".fpt", ".cdx"})
      fs::copy_file(fixture + ext, to + "/employees" + ext);
  };
  TempFolder whole;
  copy(whole.path);
  const auto original = FoxRows(FolderConnection(whole.path), "employees");
  ASSERT_EQ(original.size(), 9u);
  constexpr int kPhoto = 14, kNotes = 15;
  struct Damage {
    const char* what;
    std::function<void(const std::string& folder)> apply;
    std::vector<std::pair<int, int>> lost;  // row, column
    std::vector<std::string> report;
  };
  const std::vector<Damage> damages = {
      {"cut short inside record 8's notes",
       [](const std::string& folder) { fs::resize_file(folder + "/employees.fpt", 5400); },
       {{7, kNotes}, {8, kPhoto}, {8, kNotes}},
       {"column photo: 1 memo cannot be read and arrive as NULL (record 9): Memo file "
        "'employees.fpt' is invalid: block 86 lies past the end of the file.",
        "column notes: 2 memos cannot be read and arrive as NULL (records 8, 9): Memo file "
        "'employees.fpt' is invalid: block 83 is longer than the file."}},
      {"record 3's notes pointing past the end",
       [](const std::string& folder) {
         PatchField(folder + "/employees.dbf", 2, 253, std::string("\xA0\x86\x01\x00", 4));
       },
       {{2, kNotes}},
       {"column notes: 1 memo cannot be read and arrive as NULL (record 3): Memo file "
        "'employees.fpt' is invalid: block 100000 lies past the end of the file."}}};
  for (const auto& damage : damages) {
    SCOPED_TRACE(damage.what);
    admin("DROP TABLE IF EXISTS employees");
    TempFolder dir;
    copy(dir.path);
    damage.apply(dir.path);
    // Readers that did not ask for the rescue still get the error.
    EXPECT_THROW(FoxRows(FolderConnection(dir.path), "employees"), ado::DataAccessError);
    ado::Connection fox;
    fox.open(FolderConnection(dir.path));
    auto part = ScriptTable(fox, FolderConnection(dir.path), "employees", false);
    for (const auto& line : damage.report)
      EXPECT_NE(std::find(part.report.begin(), part.report.end(), line), part.report.end())
          << line << "\nnot in:\n"
          << transfer::FoxproToMySqlReport({{"employees", part.report}});
    CollectedScript script;
    script.add(std::move(part));
    auto run = Execute(script.lines, script.jobs, connectionString());
    // Said again once they are lost, and counted, so the tool's exit status tells.
    EXPECT_EQ(run.notes, std::vector<std::string>{std::to_string(damage.lost.size()) +
                                                  (damage.lost.size() == 1 ? " memo" : " memos") +
                                                  " of employees could not be read from its "
                                                  "memo file and arrived as NULL (the report "
                                                  "before Execute names them)."});
    EXPECT_EQ(script.jobs[0]->losses().valuesChanged, (long long)damage.lost.size());
    auto expected = original;
    for (auto [row, column] : damage.lost)
      expected[std::size_t(row)][std::size_t(column)] = "<null>";
    EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM employees"), expected);
  }
}

TEST_F(FoxproToMySqlEdges, ServerWithoutStrictModeRefusesInsteadOfCuttingAndKeepsItsMode) {
  TempFolder dir;
  ManyRows(dir.path, {5, 507});
  // Refused rows are named by their record numbers, which count a deleted record (the third).
  PatchField(dir.path + "/many.dbf", 2, 0, "*");
  CollectedScript script = Script(dir.path, "many");
  std::string& create = script.lines[0];
  create.replace(create.find("`s` TEXT"), 8, "`s` VARCHAR(3)");
  // A server whose default mode is not strict: the copy must not store "too".
  ado::Connection c;
  c.open(connectionString());
  c.execute("SET SESSION sql_mode = ''");
  std::vector<std::string> notes;
  for (const auto& line : script.lines) {
    c.execute(line);
    if (script.jobs[0]->runsAfter(line)) script.jobs[0]->run(c, {}, notes);
  }
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_NE(notes[0].find("Record 6 of many"), std::string::npos) << notes[0];
  EXPECT_NE(notes[1].find("Record 508 of many"), std::string::npos) << notes[1];
  EXPECT_NE(notes[2].find("2 of 100 chunks"), std::string::npos) << notes[2];
  ado::RecordSet mode(c.execute("SELECT @@SESSION.sql_mode"));
  EXPECT_EQ(mode.value(0).toText(), "");  // the rest of the script runs as the user set it
  c.close();
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT COUNT(*), SUM(s = 'ok') FROM many"),
            (std::vector<std::vector<std::string>>{{"997", "997"}}));
}

TEST_F(FoxproToMySqlEdges, MyIsamKeepsHalfARefusedStatementAndNoRowArrivesTwice) {
  TempFolder dir;
  ManyRows(dir.path, {5, 507, 508, 999});
  CollectedScript script = Script(dir.path, "many");
  std::string& create = script.lines[0];
  create.replace(create.find("`s` TEXT"), 8, "`s` VARCHAR(3)");
  create.replace(create.rfind(';'), 1, " ENGINE=MyISAM;");
  auto run = Execute(script.lines, script.jobs, connectionString());
  EXPECT_EQ(run.notes.size(), 5u);  // four rows, and the chunks that went row by row
  EXPECT_EQ(MySqlRows(connectionString(),
                      "SELECT ENGINE FROM information_schema.TABLES WHERE "
                      "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = 'many'"),
            (std::vector<std::vector<std::string>>{{"MyISAM"}}));
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT COUNT(*), COUNT(DISTINCT n) FROM many"),
            (std::vector<std::vector<std::string>>{{"996", "996"}}));
}

TEST_F(FoxproToMySqlEdges, CopyLostAsAWholeRemovesItsTableSoExecuteCanRunAgain) {
  TempFolder dir;
  ManyRows(dir.path, {});
  CollectedScript script = Script(dir.path, "many");
  {
    ado::Connection c;
    c.open(connectionString());
    ado::RecordSet id(c.execute("SELECT CONNECTION_ID()"));
    const std::string connectionId = id.value(0).toText();
    id.close();
    c.execute(script.lines[0]);
    std::vector<std::string> notes;
    bool killed = false;
    EXPECT_THROW(script.jobs[0]->run(
                     c,
                     [&](int) {
                       if (!killed) admin("KILL CONNECTION " + connectionId);
                       killed = true;
                     },
                     notes),
                 ado::DataAccessError);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("was removed again"), std::string::npos) << notes[0];
  }
  EXPECT_TRUE(MySqlRows(connectionString(), "SHOW TABLES LIKE 'many'").empty());
  // Pressing Execute again now runs the whole script.
  auto run = Execute(script.lines, script.jobs, connectionString());
  EXPECT_TRUE(run.notes.empty());
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT COUNT(*), COUNT(DISTINCT n) FROM many"),
            (std::vector<std::vector<std::string>>{{"1000", "1000"}}));
}

TEST_F(FoxproToMySqlEdges, Latin1DatabaseKeepsCyrillicAndGreekText) {
  admin("ALTER DATABASE `" + database() + "` CHARACTER SET latin1");
  TempFolder dir;
  Fox(dir.path,
      {"CREATE TABLE ru CODEPAGE = 1251 (s C(20), m M)",
       "INSERT INTO ru VALUES ('Привет, мир', 'Съешь же ещё')",
       "CREATE TABLE gr CODEPAGE = 1253 (s C(20))", "INSERT INTO gr VALUES ('Καλημέρα')"});
  for (const char* table : {"ru", "gr"}) {
    CollectedScript script = Script(dir.path, table);
    auto run = Execute(script.lines, script.jobs, connectionString());
    EXPECT_TRUE(run.notes.empty()) << run.notes.front();
  }
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM ru"),
            (std::vector<std::vector<std::string>>{{"Привет, мир", "Съешь же ещё"}}));
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM gr"),
            (std::vector<std::vector<std::string>>{{"Καλημέρα"}}));
}

TEST_F(FoxproToMySqlEdges, TortureTablesArriveAsTheReportSays) {
  TempFolder dir;
  Fox(dir.path,
      {"CREATE TABLE ru CODEPAGE = 1251 (n N(5,2), c C(12), v V(10) NULL, q Q(4), w W, "
       "d D, dn D NULL, t T, y Y, m M NULL, i I NULL)",
       "INSERT INTO ru VALUES (1.25, 'Привет', 'ёж', 0h0A0B, 0hFF00, {^2024-01-31}, NULL, "
       "{^2024-01-31 08:30:00}, 12.5, 'Съешь', NULL)",
       "INSERT INTO ru VALUES (2, '', NULL, 0h, 0h, {}, {}, {}, 0, NULL, 7)",
       "INSERT INTO ru VALUES (3, 'x', 'y', 0h01, 0h, {}, {^2000-02-29}, {}, -1, '', 0)",
       "CREATE TABLE west (c C(10), v V(10) NULL)", "INSERT INTO west VALUES ('ü€ß', 'Ça')"});
  PatchField(dir.path + "/ru.dbf", 1, 1, "99999");  // wider than N(5,2) allows with decimals
  PatchField(dir.path + "/ru.dbf", 2, 1, "*****");
  ado::Connection fox;
  fox.open(FolderConnection(dir.path));
  std::vector<std::pair<std::string, std::vector<std::string>>> report;
  for (const char* table : {"ru", "west"}) {
    auto part = ScriptTable(fox, FolderConnection(dir.path), table, false);
    report.emplace_back(table, part.report);
    CollectedScript script;
    script.add(std::move(part));
    auto run = Execute(script.lines, script.jobs, connectionString());
    EXPECT_TRUE(run.notes.empty()) << run.notes.front();
    // Everything the report does not name arrives as it was; the overflow mark and the blank
    // dates it names arrive as NULL, which is also how the FoxPro side reads them.
    auto expected = FoxRows(FolderConnection(dir.path), table);
    if (expected.size() > 1 && expected[1][0] == "99999") expected[1][0] = "99999.00";  // scale
    EXPECT_EQ(MySqlRows(connectionString(), std::string("SELECT * FROM ") + table), expected)
        << table;
  }
  EXPECT_EQ(transfer::FoxproToMySqlReport(report),
            "Table ru:\n"
            "  column d: dates go as text (2024-01-31), as always\n"
            "  column dn: dates go as text (2024-01-31), as always\n"
            "  column t: date-times go as text (2024-01-31 08:30:00), as always\n"
            "  column y: currency goes as text (12.5000), as always\n"
            "  column n: 1 overflow marks (*) arrive as NULL\n"
            "  column d: 2 blank dates arrive as NULL\n"
            "  column t: 2 blank dates arrive as NULL");
  auto ru = MySqlRows(connectionString(), "SELECT n, c, v, d, dn, y FROM ru");
  ASSERT_EQ(ru.size(), 3u);
  EXPECT_EQ(ru[0],
            (std::vector<std::string>{"1.25", "Привет", "ёж", "2024-01-31", "<null>", "12.5000"}));
  EXPECT_EQ(ru[1][0], "99999.00");
  EXPECT_EQ(ru[2][0], "<null>");
}

TEST_F(FoxproToMySqlEdges, NamesLongerThanMySqlTakesLeaveTheirTableOutWithTheReason) {
  TempFolder dir;
  const std::string longName(70, 'l');
  Fox(dir.path, {"CREATE TABLE " + longName + " (a I)", "CREATE TABLE ok (a I)"});
  struct Sink : CollectedScript {
    std::string text;
    void report(const std::string& t) override { text = t; }
  } sink;
  std::vector<std::string> failed;
  transfer::SendToMySqlHooks hooks;
  hooks.tableFailed = [&](const std::string& t, const std::string&) { failed.push_back(t); };
  EXPECT_EQ(
      transfer::BuildSendToMySql({longName, "ok"}, {}, FolderConnection(dir.path), sink, hooks), 1);
  EXPECT_EQ(failed, std::vector<std::string>{longName});
  EXPECT_EQ(sink.text, "Table " + longName +
                           ":\n  left out of the script: the table name has more than 64 "
                           "characters, MySQL's limit");
  ASSERT_EQ(sink.lines.size(), 2u);
  EXPECT_EQ(sink.lines[0].rfind("CREATE TABLE `ok`(", 0), 0u);
}

}  // namespace
