// Sending only what changed to MySQL: a table sent typed, then changed at random in FoxPro, is
// brought level by a sync and then equals a fresh typed copy of the changed table value for
// value; a second sync finds nothing. Composite and blank-padded keys, NULLs and a change inside
// a memo only; tables that cannot be matched are left out with why; a sync cut short in the
// middle of a table leaves it as it was, and the next one completes it.
#include "transfer/sync_to_mysql.h"

#include <gtest/gtest.h>

#include <random>

#include "foxpro_to_mysql_support.h"
#include "support/command_run.h"
#include "support/mysql_sandbox.h"

using namespace tomysql_test;

namespace {

std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

class SyncToMySql : public qmtest::MySqlDatabaseTest {
 protected:
  TempFolder fox;

  std::string foxpro() const { return FolderConnection(fox.path); }
  std::vector<std::string> mysqlTables() const {
    std::vector<std::string> names;
    for (const auto& r : MySqlRows(connectionString(), "SHOW TABLES")) names.push_back(r[0]);
    return names;
  }
  void sendTyped(const std::string& table) {
    CollectedScript script;
    transfer::SendToMySqlHooks hooks;
    hooks.typed = true;
    hooks.tableFailed = [](const std::string& t, const std::string& e) {
      ADD_FAILURE() << t << ": " << e;
    };
    ASSERT_EQ(1, transfer::BuildSendToMySql({table}, mysqlTables(), foxpro(), script, hooks));
    const RunResult r = Execute(script.lines, script.jobs, connectionString());
    ASSERT_TRUE(r.notes.empty()) << r.notes.front();
  }
  // The sync's script; report receives its report.
  std::vector<std::string> sync(const std::vector<std::string>& tables,
                                transfer::SyncToMySqlHooks hooks, std::string* report = nullptr,
                                transfer::SyncOutcome* outcome = nullptr) {
    struct : CollectedScript {
      std::string text;
      void report(const std::string& t) override { text = t; }
    } sink;
    const auto o = transfer::BuildSyncToMySql(tables, mysqlTables(), foxpro(), connectionString(),
                                              sink, hooks);
    if (report) *report = sink.text;
    if (outcome) *outcome = o;
    EXPECT_TRUE(sink.jobs.empty());
    return sink.lines;
  }
  void run(const std::vector<std::string>& lines) {
    std::vector<std::unique_ptr<transfer::ScriptJob>> none;
    Execute(lines, none, connectionString());
  }
  // The FoxPro table `table` copied to `copy` (its index and memo files too), so the changed
  // table can be sent whole beside the synced one.
  void copyTable(const std::string& table, const std::string& copy) {
    for (const char* ext : {".dbf", ".cdx", ".fpt"})
      if (fs::exists(fox.path + "/" + table + ext))
        fs::copy_file(fox.path + "/" + table + ext, fox.path + "/" + copy + ext);
  }
  std::vector<std::vector<std::string>> rows(const std::string& table, const std::string& order) {
    return MySqlRows(connectionString(), "SELECT * FROM `" + table + "` ORDER BY " + order);
  }
};

// One FoxPro row as the literals of its INSERT, id first.
using FoxRow = std::vector<std::string>;

TEST_F(SyncToMySql, RandomChangesArriveAsAFullTypedCopyWouldHaveThemAndASecondSyncFindsNothing) {
  const std::string create =
      "CREATE TABLE items (id I, code C(6), name V(12) NULL, qty N(8,2) NULL, price Y, "
      "born D NULL, stamp T NULL, flag L, note M NULL, ratio B)";
  std::mt19937 random(20);
  auto pick = [&](int n) { return int(random() % unsigned(n)); };
  auto value = [&](std::size_t column) -> std::string {
    const bool null = pick(6) == 0;
    switch (column) {
      case 1:
        return Quoted(std::string(1 + pick(6), char('a' + pick(26))));
      case 2:
        return null ? "NULL" : Quoted("n" + std::to_string(pick(1000)) + " it's");
      case 3:
        return null ? "NULL"
                    : std::to_string(pick(10000) - 5000) + "." + std::to_string(10 + pick(90));
      case 4:
        return std::to_string(pick(10000)) + ".25";
      case 5:
        return null ? "NULL"
                    : "{^20" + std::to_string(10 + pick(20)) + "-0" + std::to_string(1 + pick(9)) +
                          "-1" + std::to_string(pick(9)) + "}";
      case 6:
        return null ? "NULL"
                    : "{^2021-08-31 1" + std::to_string(pick(10)) + ":20:3" +
                          std::to_string(pick(10)) + "}";
      case 7:
        return pick(2) ? ".T." : ".F.";
      case 8:
        return null ? "NULL" : Quoted("line one\\ " + std::to_string(pick(1000)));
      default:
        return std::to_string(pick(1000)) + ".5";
    }
  };
  const char* const names[] = {"id",   "code",  "name", "qty",  "price",
                               "born", "stamp", "flag", "note", "ratio"};
  std::map<int, FoxRow> table;
  auto insert = [&](int id) {
    FoxRow r{std::to_string(id)};
    for (std::size_t c = 1; c < 10; ++c) r.push_back(value(c));
    table[id] = r;
    std::string line = "INSERT INTO items VALUES (";
    for (std::size_t k = 0; k < r.size(); ++k) line += (k ? ", " : "") + r[k];
    return line + ")";
  };
  std::vector<std::string> sql = {create};
  for (int id = 1; id <= 300; ++id) sql.push_back(insert(id));
  sql.push_back("INDEX ON id TAG id CANDIDATE");
  Fox(fox.path, sql);
  sendTyped("items");
  const std::map<int, FoxRow> original = table;

  // A tenth of the rows change through the engine: some are deleted (marked, as FoxPro does),
  // some are new, some take a new value in one column or two.
  sql.clear();
  for (int n = 0; n < 30; ++n) {
    const int id = 1 + pick(300);
    if (!table.count(id)) continue;
    const std::string where = " WHERE id = " + std::to_string(id);
    if (n % 3 == 0) {
      table.erase(id);
      sql.push_back("DELETE FROM items" + where);
    } else if (n % 3 == 1) {
      sql.push_back(insert(1000 + n));
    } else {
      for (int c = 0; c < 1 + pick(2); ++c) {
        const std::size_t column = 1 + std::size_t(pick(9));
        table[id][column] = value(column);
        sql.push_back(std::string("UPDATE items SET ") + names[column] + " = " + table[id][column] +
                      where);
      }
    }
  }
  Fox(fox.path, sql);
  // Counted from the rows themselves: a value drawn again may be the one it replaces, and
  // such a row is rightly not sent.
  int deleted = 0, added = 0, updated = 0;
  for (const auto& [id, r] : original) {
    deleted += !table.count(id);
    updated += table.count(id) && table.at(id) != r;
  }
  for (const auto& [id, r] : table) added += !original.count(id);
  ASSERT_GT(deleted * added * updated, 0);

  transfer::SyncToMySqlHooks hooks;
  hooks.deleteTargetOnly = true;
  std::string report;
  transfer::SyncOutcome outcome;
  const auto lines = sync({"items"}, hooks, &report, &outcome);
  ASSERT_EQ(outcome.tables.size(), 1u) << report;
  EXPECT_EQ(outcome.tables[0].inserts, added);
  EXPECT_EQ(outcome.tables[0].deletes, deleted);
  EXPECT_EQ(outcome.tables[0].updates, updated);
  ASSERT_EQ(lines.front(), "START TRANSACTION");
  ASSERT_EQ(lines.back(), "COMMIT");
  EXPECT_EQ(lines.size(), std::size_t(added + deleted + updated + 2));
  run(lines);

  copyTable("items", "fresh");
  sendTyped("fresh");
  EXPECT_EQ(rows("items", "id"), rows("fresh", "id"));
  EXPECT_EQ(rows("items", "id").size(), table.size());

  // Level now: nothing to send, from the tool as from the function.
  EXPECT_TRUE(sync({"items", "fresh"}, hooks).empty());
  const TempFolder config;
  const std::string dryRun = config.file("sync.sql");
  const qmtest::CommandRun tool = qmtest::runCommand(
      "XDG_CONFIG_HOME=" + qmtest::shellQuote(config.path) +
          " " QM_BINARY_DIR "/tools/quillmere-transfer",
      {"--sync", "--to-mysql", "--foxpro", fox.path, "--mysql-server", sandbox().host,
       "--mysql-port", sandbox().port, "--mysql-user", sandbox().adminUser, "--mysql-password",
       sandbox().adminPassword, "--mysql-database", database(), "--dry-run", dryRun, "items"});
  EXPECT_EQ(tool.status, 0) << tool.out << tool.err;
  EXPECT_NE(tool.out.find("items: no changes"), std::string::npos) << tool.out;
  EXPECT_EQ(qmtest::readWholeFile(dryRun), "");
}

TEST_F(SyncToMySql, CompositeBlankPaddedKeysNullsAndAMemoOnlyChangeAndWhatCannotBeMatched) {
  auto parts = [&](const std::string& note, const std::string& qty, bool third) {
    std::vector<std::string> sql = {
        "CREATE TABLE parts (grp C(4), code C(6), note M NULL, "
        "qty N(6,0) NULL, label V(10) NULL)",
        "INSERT INTO parts VALUES ('ab', 'x1', 'first', 1, 'one')",
        "INSERT INTO parts VALUES ('ab', 'x2', " + note + ", " + qty + ", NULL)",
        "INSERT INTO parts VALUES ('a', 'bx1', NULL, NULL, 'edge')"};
    if (third) sql.push_back("INSERT INTO parts VALUES ('zz', 'q', 'new', 3, NULL)");
    sql.push_back("INDEX ON grp+code TAG gc CANDIDATE");
    if (fs::exists(fox.path + "/parts.dbf")) sql.insert(sql.begin(), "DROP TABLE parts");
    Fox(fox.path, sql);
  };
  parts("'memo\r\nbefore'", "2", false);
  Fox(fox.path, {"CREATE TABLE loose (a I, b C(2))", "INSERT INTO loose VALUES (1, 'x')",
                 "INSERT INTO loose VALUES (1, 'y')"});
  sendTyped("parts");
  sendTyped("loose");

  // The memo alone changes in one row, a value becomes NULL in it, and a row is new.
  parts("'memo\r\nafter'", "NULL", true);
  std::string report;
  const auto lines = sync({"parts", "loose"}, {}, &report);
  ASSERT_EQ(lines.size(), 4u) << report;
  EXPECT_EQ(lines[1],
            "UPDATE `parts` SET `note` = 'memo\\r\\nafter', `qty` = NULL WHERE `grp` = 'ab' AND "
            "`code` = 'x2'");
  EXPECT_EQ(lines[2].rfind("INSERT INTO `parts`", 0), 0u) << lines[2];
  EXPECT_NE(report.find("parts: 1 row to insert (key zz, q), 1 row to update (key ab, x2)"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("loose: left out: it has no primary or candidate tag"), std::string::npos)
      << report;
  run(lines);
  EXPECT_EQ(rows("parts", "grp, code"), (std::vector<std::vector<std::string>>{
                                            {"a", "bx1", "<null>", "<null>", "edge"},
                                            {"ab", "x1", "first", "1", "one"},
                                            {"ab", "x2", "memo\r\nafter", "<null>", "<null>"},
                                            {"zz", "q", "new", "3", "<null>"}}));
  EXPECT_TRUE(sync({"parts"}, {}).empty());

  // Blank dates sent go as NULL, and the report says so before Execute, also where MySQL's
  // column (made while no date in it was blank) will refuse them.
  Fox(fox.path,
      {"CREATE TABLE dated (id I, due D, shipped D)",
       "INSERT INTO dated VALUES (1, {}, {^2024-01-31})", "INDEX ON id TAG id CANDIDATE"});
  sendTyped("dated");
  Fox(fox.path, {"INSERT INTO dated VALUES (2, {}, {})"});
  sync({"dated"}, {}, &report);
  EXPECT_NE(report.find("dated: 1 row to insert (key 2)\n  column due: 1 blank dates arrive as "
                        "NULL\n  column shipped: 1 blank dates arrive as NULL, which its NOT NULL "
                        "column in MySQL refuses"),
            std::string::npos)
      << report;

  // A key no MySQL index starts with makes every UPDATE read the whole table there: said, until
  // such an index exists.
  Fox(fox.path, {"CREATE TABLE plain (id I, v C(4))", "INSERT INTO plain VALUES (1, 'a')"});
  sendTyped("plain");
  transfer::SyncToMySqlHooks byId;
  byId.key = {"id"};
  const std::string slow = "MySQL has no index on the key (id): each UPDATE and DELETE reads";
  Fox(fox.path, {"UPDATE plain SET v = 'b'"});
  sync({"plain"}, byId, &report);
  EXPECT_NE(report.find("1 row to update (key 1)\n  " + slow), std::string::npos) << report;
  admin("CREATE INDEX v_id ON plain (v, id)");  // not led by the key: still slow
  sync({"plain"}, byId, &report);
  EXPECT_NE(report.find(slow), std::string::npos) << report;
  admin("CREATE INDEX by_id ON plain (id)");
  sync({"plain"}, byId, &report);
  EXPECT_EQ(report.find(slow), std::string::npos) << report;
  EXPECT_NE(report.find("1 row to update"), std::string::npos) << report;

  // A key that is not unique is refused with the duplicate named; one MySQL no longer has the
  // shape of, likewise.
  transfer::SyncToMySqlHooks byA;
  byA.key = {"a"};
  sync({"loose"}, byA, &report);
  EXPECT_NE(report.find("loose: left out: its key (the key named) is not unique in FoxPro: rows 1 "
                        "and 2 both have 1"),
            std::string::npos)
      << report;
  admin("ALTER TABLE parts MODIFY qty DECIMAL(7,1)");
  sync({"parts"}, {}, &report);
  EXPECT_NE(report.find("the column qty is decimal(7,1) in MySQL, where the typed send makes "
                        "decimal(6,0)"),
            std::string::npos)
      << report;
}

TEST_F(SyncToMySql, ASyncCutShortLeavesTheTableAsItWasAndTheNextOneCompletesIt) {
  auto table = [&](int from, int to) {
    std::vector<std::string> sql = {"CREATE TABLE t (id I, v C(10))"};
    if (fs::exists(fox.path + "/t.dbf")) sql.insert(sql.begin(), "DROP TABLE t");
    for (int i = from; i <= to; ++i)
      sql.push_back("INSERT INTO t VALUES (" + std::to_string(i) + ", 'v" + std::to_string(i) +
                    "')");
    sql.push_back("INDEX ON id TAG id CANDIDATE");
    Fox(fox.path, sql);
  };
  table(1, 50);
  sendTyped("t");
  const auto before = rows("t", "id");
  table(21, 90);
  transfer::SyncToMySqlHooks hooks;
  hooks.deleteTargetOnly = true;
  const auto lines = sync({"t"}, hooks);
  ASSERT_EQ(lines.size(), 20u + 40u + 2u);
  // The connection ends half way through the table's statements, as when the program is killed.
  run(std::vector<std::string>(lines.begin(), lines.begin() + 35));
  EXPECT_EQ(rows("t", "id"), before);
  run(sync({"t"}, hooks));
  EXPECT_TRUE(sync({"t"}, hooks).empty());
  const auto after = rows("t", "id");
  ASSERT_EQ(after.size(), 70u);
  EXPECT_EQ(after.front(), (std::vector<std::string>{"21", "v21"}));
  EXPECT_EQ(after.back(), (std::vector<std::string>{"90", "v90"}));
}

}  // namespace
