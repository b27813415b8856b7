// FoxPro tables sent to the sandbox MySQL through the script and its row-copy jobs: values
// arrive unchanged, the key column goes, refused rows are reported once, progress by statement.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "ado/mysql_session.h"
#include "foxpro_to_mysql_support.h"
#include "support/mysql_sandbox.h"
#include "transfer/local_load.h"
#include "transfer/mysql_script.h"

using namespace tomysql_test;
using transfer::ScriptTable;

namespace {

class FoxproToMySqlCopy : public qmtest::MySqlDatabaseTest {
 protected:
  // Sends one table and checks it arrived value for value, without its key column.
  void SendAndCompare(const std::string& foxConnection, const std::string& table,
                      const std::string& label) {
    SCOPED_TRACE(label + " " + table);
    admin("DROP TABLE IF EXISTS " + ado::quoteMySqlName(table));
    ado::Connection fox;
    fox.setCursorLocation(ado::adUseClient);
    fox.open(foxConnection);
    CollectedScript script;
    script.add(ScriptTable(fox, foxConnection, table, false));
    fox.close();
    ASSERT_EQ(script.lines.size(), 2u);
    auto* job = static_cast<transfer::RowCopyJob*>(script.jobs[0].get());
    const std::string key = job->keyName();
    // Creation and rows first, compared in key order, then the key column's removal.
    std::vector<std::unique_ptr<transfer::ScriptJob>> none;
    std::vector<std::unique_ptr<transfer::ScriptJob>> jobs;
    jobs.push_back(std::move(script.jobs[0]));
    RunResult run = Execute({script.lines[0]}, jobs, connectionString());
    EXPECT_TRUE(run.notes.empty()) << run.notes.front();
    auto expected = FoxRows(foxConnection, table);
    // Every field type goes through LOAD DATA LOCAL as it is; none falls back to INSERTs.
    EXPECT_EQ(job->stats().chunksRowByRow, 0);
    EXPECT_EQ(job->stats().chunks > 0, !expected.empty());
    auto arrived = MySqlRows(connectionString(), "SELECT * FROM " + ado::quoteMySqlName(table) +
                                                     " ORDER BY " + ado::quoteMySqlName(key));
    ASSERT_EQ(arrived.size(), expected.size());
    for (std::size_t r = 0; r < arrived.size(); ++r) {
      ASSERT_EQ(arrived[r].front(), std::to_string(r));
      arrived[r].erase(arrived[r].begin());
      ASSERT_EQ(arrived[r], expected[r]) << "row " << r;
    }
    Execute({script.lines[1]}, none, connectionString());
    std::vector<std::string> columns;
    MySqlRows(connectionString(), "SELECT * FROM " + ado::quoteMySqlName(table) + " LIMIT 0",
              &columns);
    EXPECT_EQ(std::count(columns.begin(), columns.end(), key), 0);
    EXPECT_EQ(columns.size(), expected.empty() ? columns.size() : expected[0].size());
  }
};

std::vector<std::string> TablesOf(const std::string& foxConnection) {
  ado::Connection c;
  c.open(foxConnection);
  ado::RecordSet rs(c.openSchema(ado::adSchemaTables));
  std::vector<std::string> names;
  for (; !rs.eof(); rs.moveNext())
    if (rs.value("TABLE_TYPE").toText() == "TABLE")
      names.push_back(rs.value("TABLE_NAME").toText());
  return names;
}

TEST_F(FoxproToMySqlCopy, EveryFixtureTableArrivesValueForValue) {
  TempFolder work;
  int tables = 0;
  std::set<fs::path> folders;
  for (auto& e : fs::recursive_directory_iterator(QM_FIXTURES_DIR)) {
    std::string ext = e.path().extension().string();
    for (auto& ch : ext) ch = char(std::tolower((unsigned char)ch));
    if (ext == ".dbf") folders.insert(e.path().parent_path());
  }
  int n = 0;
  for (const auto& folder : folders) {
    fs::path copy = fs::path(work.path) / std::to_string(n++);
    fs::copy(folder, copy, fs::copy_options::recursive);
    std::vector<std::string> sources = {FolderConnection(copy.string())};
    for (auto& e : fs::directory_iterator(copy)) {
      std::string ext = e.path().extension().string();
      for (auto& ch : ext) ch = char(std::tolower((unsigned char)ch));
      if (ext == ".dbc")
        sources.push_back("Provider=vfpoledb.1;Data Source=" + e.path().string() +
                          ";Collating Sequence=machine;");
    }
    for (const auto& source : sources) {
      std::vector<std::string> names;
      try {
        names = TablesOf(source);
      } catch (const std::exception& e) {
        ADD_FAILURE() << source << ": " << e.what();
        continue;
      }
      for (const auto& table : names) {
        // Known elsewhere: a dBase II file the engine refuses, field names that differ only in
        // case (MySQL cannot hold both; the preview reports the server's refusal).
        if (table == "dbase_02" || table == "dbase_03") continue;
        try {
          SendAndCompare(source, table, fs::relative(folder, QM_FIXTURES_DIR).string());
        } catch (const std::exception& e) {
          ADD_FAILURE() << folder << " " << table << ": " << e.what();
        }
        ++tables;
      }
    }
  }
  EXPECT_GT(tables, 40);
}

TEST_F(FoxproToMySqlCopy, EveryFieldTypeNullsAndEmptyDatesArrive) {
  TempFolder dir;
  Fox(dir.path,
      {"CREATE TABLE every (c C(5) NULL, cb C(2) NOCPTRANS, v V(8), vb V(4) NOCPTRANS, m M, "
       "mb M NOCPTRANS, n N(12,3), f F(6,1), i I, b B, y Y, d D NULL, t T, l L, g G, w W, q Q(3), "
       "big N(20,0))",
       "INSERT INTO every VALUES('abc', 0h0102, 'var', 0hFF, 'memo', 0h00, '-12.500', '1.5', 42, "
       "2.25, '3.14159', {^2021-08-31}, {^2021-08-31 10:20:30}, .T., 0h01, 0h0203, 0h0A0B, "
       "'16777217')",
       "INSERT INTO every VALUES(NULL, 0h, '', 0h, '', 0h, '', '', 0, 0, 0, NULL, {}, .F., 0h, "
       "0h, 0h, '12345678901234567890')",
       "INSERT INTO every VALUES('x''`y', 0hFFFF, 'ü€', 0h00, 'line1' + CHR(13) + CHR(10) + "
       "'line2', 0h, '1234567.890', '-0.5', -2147483647, 1E300, '-922337203685477.5807', {}, "
       "{^1900-01-01 00:00:01}, .F., 0h, 0h, 0h, '-1')"});
  SendAndCompare(FolderConnection(dir.path), "every", "made here");
}

TEST_F(FoxproToMySqlCopy, LogicalsLoadIntoAColumnTypeChangedInThePreview) {
  TempFolder dir;
  Fox(dir.path, {"CREATE TABLE flags (n I, l L NULL)", "INSERT INTO flags VALUES (1, .T.)",
                 "INSERT INTO flags VALUES (2, .F.)", "INSERT INTO flags VALUES (3, NULL)"});
  ado::Connection fox;
  fox.open(FolderConnection(dir.path));
  CollectedScript script;
  script.add(ScriptTable(fox, FolderConnection(dir.path), "flags", false));
  std::string& create = script.lines[0];
  create.replace(create.find("`l` BIT"), 7, "`l` TINYINT");
  auto run = Execute(script.lines, script.jobs, connectionString());
  EXPECT_TRUE(run.notes.empty()) << run.notes.front();
  EXPECT_EQ(static_cast<transfer::RowCopyJob&>(*script.jobs[0]).stats().chunksRowByRow, 0);
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT l FROM flags ORDER BY n"),
            (std::vector<std::vector<std::string>>{{"1"}, {"0"}, {"<null>"}}));
}

TEST_F(FoxproToMySqlCopy, KeyAvoidsFieldNamedLikeItAndGoesAfterTheRows) {
  TempFolder dir;
  Fox(dir.path, {"CREATE TABLE keys (tempid0 I, tempid1 C(3), x C(1))",
                 "INSERT INTO keys VALUES (7, 'a', 'x')", "INSERT INTO keys VALUES (8, 'b', 'y')"});
  ado::Connection fox;
  fox.open(FolderConnection(dir.path));
  auto part = ScriptTable(fox, FolderConnection(dir.path), "keys", false);
  EXPECT_EQ(part.job->keyName(), "tempid2");
  EXPECT_EQ(part.commands.back(), "ALTER TABLE `keys` DROP COLUMN `tempid2`");
  SendAndCompare(FolderConnection(dir.path), "keys", "key");
}

TEST_F(FoxproToMySqlCopy, NamesWithSpacesAndBackticksKeepTheirQuoting) {
  TempFolder dir;
  Fox(dir.path, {"CREATE TABLE 'my table' (weird C(3))", "INSERT INTO 'my table' VALUES ('a')"});
  SendAndCompare(FolderConnection(dir.path), "my table", "quoting");
}

TEST_F(FoxproToMySqlCopy, FourRowsReportQuarterSteps_NoRowsCopyNothing) {
  TempFolder dir;
  Fox(dir.path, {"CREATE TABLE four (a I)", "INSERT INTO four VALUES (1)",
                 "INSERT INTO four VALUES (2)", "INSERT INTO four VALUES (3)",
                 "INSERT INTO four VALUES (4)", "CREATE TABLE empty (a I, b C(2))"});
  ado::Connection fox;
  fox.open(FolderConnection(dir.path));
  CollectedScript script;
  script.add(ScriptTable(fox, FolderConnection(dir.path), "four", false));
  script.add(ScriptTable(fox, FolderConnection(dir.path), "empty", false));
  auto run = Execute(script.lines, script.jobs, connectionString());
  EXPECT_EQ(run.jobsRun, (std::vector<std::string>{"four", "empty"}));
  EXPECT_EQ(run.progress, (std::vector<int>{25, 50, 75, 100}));
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM `four`").size(), 4u);
  std::vector<std::string> columns;
  EXPECT_TRUE(MySqlRows(connectionString(), "SELECT * FROM `empty`", &columns).empty());
  EXPECT_EQ(columns, (std::vector<std::string>{"a", "b"}));
}

TEST_F(FoxproToMySqlCopy, RefusedRowsAreReportedOnceAndTheOthersArrive) {
  TempFolder dir;
  // 1000 rows go in statements of 10; rows 5 and 507 are too long for the column the user
  // narrowed in the preview.
  std::vector<std::string> statements = {"CREATE TABLE many (n I, s C(10))"};
  for (int r = 0; r < 1000; ++r)
    statements.push_back("INSERT INTO many VALUES (" + std::to_string(r) + ", '" +
                         (r == 5 || r == 507 ? "toolong" : "ok") + "')");
  Fox(dir.path, statements);
  ado::Connection fox;
  fox.open(FolderConnection(dir.path));
  CollectedScript script;
  script.add(ScriptTable(fox, FolderConnection(dir.path), "many", false));
  std::string& create = script.lines[0];
  create.replace(create.find("`s` TEXT"), 8, "`s` VARCHAR(3)");
  script.lines.insert(script.lines.begin(), "SET SESSION sql_mode = 'STRICT_ALL_TABLES'");
  auto run = Execute(script.lines, script.jobs, connectionString());
  ASSERT_EQ(run.notes.size(), 3u);
  EXPECT_NE(run.notes[0].find("Record 6 of many"), std::string::npos) << run.notes[0];
  EXPECT_NE(run.notes[0].find("Data too long"), std::string::npos) << run.notes[0];
  EXPECT_NE(run.notes[1].find("Record 508 of many"), std::string::npos) << run.notes[1];
  EXPECT_NE(run.notes[2].find("Table many: 2 of 100 chunks"), std::string::npos) << run.notes[2];
  auto rows = MySqlRows(connectionString(), "SELECT n FROM `many` ORDER BY n");
  ASSERT_EQ(rows.size(), 998u);
  EXPECT_EQ(rows[5][0], "6");
  EXPECT_EQ(rows[505][0], "506");
  EXPECT_EQ(rows[506][0], "508");
  EXPECT_EQ(run.progress.size(), 100u);
  EXPECT_EQ(run.progress.back(), 100);
}

TEST_F(FoxproToMySqlCopy, RowsSentWhileTheWindowIsCalledBackArriveTheSame) {
  // Local loading and the statements (the refused row's chunk) both run on a connection that
  // waits without blocking; the rows must be those a blocking connection stores.
  TempFolder dir;
  Fox(dir.path, {"CREATE TABLE src (n I, s C(10), m M, d D, y Y)"});
  std::vector<std::string> statements;
  for (int r = 0; r < 3000; ++r)
    statements.push_back("INSERT INTO src VALUES (" + std::to_string(r) + ", '" +
                         (r == 1234 ? "toolong" : "v" + std::to_string(r % 97)) + "', '" +
                         std::string(std::size_t(r % 300), char('a' + r % 26)) + "', {^2020-" +
                         std::to_string(1 + r % 12) + "-" + std::to_string(1 + r % 28) + "}, " +
                         std::to_string(r) + ".1234)");
  Fox(dir.path, statements);
  std::vector<std::vector<std::string>> arrived[2];
  std::vector<std::string> notes[2];
  for (int waits = 0; waits < 2; ++waits) {
    admin("DROP TABLE IF EXISTS src");
    ado::Connection fox;
    fox.open(FolderConnection(dir.path));
    CollectedScript script;
    script.add(ScriptTable(fox, FolderConnection(dir.path), "src", false));
    fox.close();
    std::string& create = script.lines[0];
    create.replace(create.find("`s` TEXT"), 8, "`s` VARCHAR(5)");
    script.lines.insert(script.lines.begin(), "SET SESSION sql_mode = 'STRICT_ALL_TABLES'");
    ado::Waiting waiting;
    if (waits) waiting = [] {};
    auto run = Execute(script.lines, script.jobs, connectionString(), waiting);
    notes[waits] = run.notes;
    arrived[waits] = MySqlRows(connectionString(), "SELECT * FROM src ORDER BY n");
  }
  ASSERT_EQ(arrived[0].size(), 2999u);
  EXPECT_EQ(arrived[0], arrived[1]);
  EXPECT_EQ(notes[0], notes[1]);
  ASSERT_FALSE(notes[1].empty());
  EXPECT_NE(notes[1][0].find("Record 1235 of src"), std::string::npos) << notes[1][0];
}

TEST_F(FoxproToMySqlCopy, JobFollowsItsCreationLineThroughTypeEditsOnly) {
  transfer::RowCopyJob job("", "my `t`", "tempid0", {});
  EXPECT_TRUE(
      job.runsAfter("CREATE TABLE `my ``t```( `tempid0` INTEGER UNSIGNED NOT NULL,`a` "
                    "VARCHAR(9) );"));
  EXPECT_FALSE(job.runsAfter("CREATE TABLE `my ``t``x`( `tempid0` INTEGER UNSIGNED NOT NULL );"));
  EXPECT_FALSE(job.runsAfter("DROP TABLE `my ``t```"));
}

TEST_F(FoxproToMySqlCopy, ChangedSourceStopsTheJobWithAMessage) {
  TempFolder dir;
  Fox(dir.path, {"CREATE TABLE t (a I)"});
  ado::Connection fox;
  fox.open(FolderConnection(dir.path));
  CollectedScript script;
  script.add(ScriptTable(fox, FolderConnection(dir.path), "t", false));
  fox.close();
  Fox(dir.path, {"DROP TABLE t", "CREATE TABLE t (a I, b I)"});
  try {
    Execute(script.lines, script.jobs, connectionString());
    ADD_FAILURE() << "no error";
  } catch (const ado::DataAccessError& e) {
    EXPECT_NE(std::string(e.what()).find("no longer has the fields"), std::string::npos);
  }
}

}  // namespace

TEST_F(FoxproToMySqlCopy, LargeMemosGoInStatementsTheServerAccepts) {
  TempFolder dir;
  // 100 memos of 300 KB would make one 30 MB statement, beyond the server's 16 MB packet.
  std::vector<std::string> statements = {"CREATE TABLE big (n I, m M)"};
  const std::string chunk(250, 'x');
  std::string memo = "'" + chunk + "'";
  for (int i = 1; i < 1200; ++i) memo += " + '" + chunk + "'";
  for (int r = 0; r < 10000; ++r)
    statements.push_back("INSERT INTO big VALUES (" + std::to_string(r) + ", " +
                         (r < 100 ? memo : "'small'") + ")");
  Fox(dir.path, statements);
  ado::Connection fox;
  fox.open(FolderConnection(dir.path));
  CollectedScript script;
  script.add(ScriptTable(fox, FolderConnection(dir.path), "big", false));
  auto run = Execute(script.lines, script.jobs, connectionString());
  EXPECT_TRUE(run.notes.empty()) << run.notes.front();
  auto rows =
      MySqlRows(connectionString(), "SELECT COUNT(*), SUM(LENGTH(m) = 300000), MAX(n) FROM big");
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"10000", "100", "9999"}}));
}

TEST_F(FoxproToMySqlCopy, DemoTablesArrive) {
  TempFolder dir;
  Fox(dir.path,
      {"CREATE TABLE products (code C(8), name C(40), price N(10,2), stock I, added D, updated T, "
       "active L, notes M NULL)",
       "INSERT INTO products VALUES ('A-100', 'Café crème', 3.50, 120, {^2024-01-15}, "
       "{^2024-03-01 09:30:00}, .T., 'Line one' + CHR(13) + CHR(10) + 'line two')",
       "INSERT INTO products VALUES ('B-200', 'O''Reilly \"Earl Grey\"', 12.00, 0, {^2023-12-31}, "
       "{^2024-01-02 17:45:10}, .F., .NULL.)",
       "INSERT INTO products VALUES ('C-300', 'Smørrebrød', -0.99, -5, {^2000-02-29}, "
       "{^1999-12-31 23:59:59}, .T., 'Ça coûte 5 €')",
       "CREATE TABLE Suppliers (id I, name C(40), country C(2))",
       "INSERT INTO Suppliers VALUES (1, 'Tarnwick Trading', 'GB')",
       "CREATE TABLE categories (code C(4), title V(30))",
       "INSERT INTO categories VALUES ('TEA', 'Tea and infusions')"});
  for (const auto& table : TablesOf(FolderConnection(dir.path)))
    SendAndCompare(FolderConnection(dir.path), table, "demo");
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT price, notes FROM products")[2],
            (std::vector<std::string>{"-0.99", "Ça coûte 5 €"}));
}

TEST(LoadLine, ValuesInTheServersTextFormsWithSeparatorsEscaped) {
  using ado::Value;
  const Value row[] = {Value::fromInt(-42),
                       Value::null(),
                       Value::fromText("a\tb\nc\\d\re"),
                       Value::fromBytes(std::string("x\0y", 3)),
                       Value::fromDouble(2.675),
                       Value::fromDouble(1e300),
                       Value::fromDecimal("-12.50"),
                       Value::fromBool(true),
                       Value::fromDate({2021, 8, 31}),
                       Value::fromDateTime({{1900, 1, 1}, {false, 0, 0, 1, 0}}),
                       Value::fromTime({true, 838, 59, 59, 120}),
                       Value::fromText("")};
  std::string line;
  transfer::AppendLoadLine(line, row, std::size(row));
  EXPECT_EQ(line,
            "-42\t\\N\ta\\tb\\nc\\\\d\\re\tx\\0y\t2.675\t1e+300\t-12.50\t\x01\t2021-08-31\t"
            "1900-01-01 00:00:01\t-838:59:59.000120\t\n");
}

// Local loading is switched on and off for the whole server, which would change the notes of
// copies running at the same time: this test runs alone, as the ctest test
// transfer_local_loading_on_and_off, and is skipped in the parallel run.
TEST_F(FoxproToMySqlCopy, LoadedAndInsertedRowsGiveTheSameTableRefusedRowsIncluded) {
  if (!std::getenv("QM_RUNS_ALONE")) GTEST_SKIP() << "runs alone (server-wide setting)";
  TempFolder dir;
  // 3000 rows: chunks of 30, every field type. Row 1234 is too long for the column narrowed in
  // the preview, so its chunk is refused and goes row by row.
  std::vector<std::string> statements = {
      "CREATE TABLE mix (n I, s C(10) NULL, m M, b B, y Y, d D NULL, t T, l L, num N(10,2), "
      "v V(12) NULL, f F(8,2), cb C(2) NOCPTRANS, vb V(3) NOCPTRANS, mb M NOCPTRANS, g G, w W, "
      "q Q(3), ln L NULL, dn D)"};
  for (int r = 0; r < 3000; ++r) {
    std::string s = r == 1234    ? "'toolong'"
                    : r % 7 == 0 ? "NULL"
                                 : "'ok" + std::to_string(r % 10) + "'";
    const std::string hex = std::to_string(10 + r % 90);
    statements.push_back("INSERT INTO mix VALUES (" + std::to_string(r) + ", " + s +
                         ", 'tab' + CHR(9) + 'line' + CHR(13) + CHR(10) + 'back\\slash " +
                         std::to_string(r) + "', " + std::to_string(r) + ".1, '" +
                         std::to_string(r) + ".4321', " + (r % 5 ? "{^2021-08-31}" : "NULL") +
                         ", {^2021-08-31 10:20:" + std::to_string(10 + r % 50) + "}, " +
                         (r % 2 ? ".T." : ".F.") + ", '" + std::to_string(r % 1000) + ".25', " +
                         (r % 3 ? "'v" + std::to_string(r) + "'" : "NULL") + ", " +
                         std::to_string(r % 10000) + ".75, 0h00" + hex + ", 0h0A09" + hex +
                         ", 0h5C00" + hex + ", 0h01, 0h02" + hex + ", 0h0A0B, " +
                         (r % 3 == 0   ? "NULL"
                          : r % 3 == 1 ? ".T."
                                       : ".F.") +
                         ", " + (r % 4 ? "{^2022-02-28}" : "{}") + ")");
  }
  Fox(dir.path, statements);

  struct Outcome {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> notes;
    long long loads = 0;  // LOAD DATA statements the server ran
    transfer::RowCopyStats stats;
  };
  auto loads = [&] {
    return std::stoll(MySqlRows(connectionString(), "SHOW GLOBAL STATUS LIKE 'Com_load'")[0][1]);
  };
  auto send = [&](bool local) {
    admin(std::string("SET GLOBAL local_infile = ") + (local ? "1" : "0"));
    admin("DROP TABLE IF EXISTS mix");
    ado::Connection fox;
    fox.open(FolderConnection(dir.path));
    CollectedScript script;
    script.add(ScriptTable(fox, FolderConnection(dir.path), "mix", false));
    std::string& create = script.lines[0];
    create.replace(create.find("`s` TEXT"), 8, "`s` VARCHAR(3)");
    script.lines.insert(script.lines.begin(), "SET SESSION sql_mode = 'STRICT_ALL_TABLES'");
    Outcome o;
    long long before = loads();
    o.notes = Execute(script.lines, script.jobs, connectionString()).notes;
    o.loads = loads() - before;
    o.stats = static_cast<transfer::RowCopyJob&>(*script.jobs[0]).stats();
    o.rows = MySqlRows(connectionString(), "SELECT * FROM mix ORDER BY n");
    return o;
  };
  Outcome loaded = send(true);
  Outcome inserted = send(false);
  admin("SET GLOBAL local_infile = 1");

  EXPECT_GE(loaded.loads, 99);
  EXPECT_EQ(inserted.loads, 0);
  ASSERT_EQ(loaded.rows.size(), 2999u);
  EXPECT_EQ(loaded.rows, inserted.rows);
  EXPECT_EQ(loaded.rows[1233][0], "1233");
  EXPECT_EQ(loaded.rows[1234][0], "1235");
  EXPECT_EQ(loaded.rows[700][1], "<null>");
  EXPECT_EQ(loaded.rows[701][2], "tab\tline\r\nback\\slash 701");
  // Only the refused row's chunk went row by row, and the run says so with the server's reason.
  EXPECT_EQ(loaded.stats.chunksRowByRow, 1);
  EXPECT_EQ(loaded.stats.chunks, 100);
  EXPECT_EQ(inserted.stats.chunks, 0);
  ASSERT_EQ(loaded.notes.size(), 2u);
  EXPECT_NE(loaded.notes[0].find("Record 1235 of mix"), std::string::npos) << loaded.notes[0];
  EXPECT_NE(loaded.notes[1].find("Table mix: 1 of 100 chunks"), std::string::npos)
      << loaded.notes[1];
  EXPECT_NE(loaded.notes[1].find("column 's'"), std::string::npos) << loaded.notes[1];
  ASSERT_EQ(inserted.notes.size(), 2u);
  EXPECT_EQ(std::count(inserted.notes.begin(), inserted.notes.end(), loaded.notes[0]), 1);
  EXPECT_EQ(std::count(inserted.notes.begin(), inserted.notes.end(),
                       std::string(transfer::kLocalLoadRefusedNote)),
            1);
}
