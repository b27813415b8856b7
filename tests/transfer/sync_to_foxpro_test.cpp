// Sending only what changed to FoxPro: a MySQL table sent typed, then changed at random in
// MySQL, is brought level by a sync, after which the FoxPro table holds what a fresh typed copy
// holds, value for value and tag for tag, in a container and in a free folder; a second sync
// finds nothing. Changes the typed copy would not store (fractions of a second) are not sent.
// A composite key with a blank-padded character part, NULLs, a change inside a memo only, and
// the tables that cannot be matched, left out with why. A sync killed while it writes leaves
// whole records and exact tags, and the next one completes it.
#include "transfer/sync_to_foxpro.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <chrono>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "foxpro_to_mysql_support.h"
#include "support/command_run.h"
#include "support/mysql_sandbox.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/cdx_reader.h"
#include "vfp/dbc.h"
#include "vfp/table.h"

using namespace tomysql_test;

namespace {

// A record's values as text, for comparing two tables.
std::string Text(const vfp::Value& v) {
  using K = vfp::Value::Kind;
  switch (v.kind) {
    case K::Null:
      return "<null>";
    case K::Bool:
      return v.b ? "T" : "F";
    case K::Int:
      return std::to_string(v.i);
    case K::Double:
      return ado::formatDouble(v.d);
    case K::Date:
    case K::DateTime:
      return std::to_string(v.when.date.year) + "-" + std::to_string(v.when.date.month) + "-" +
             std::to_string(v.when.date.day) + " " + std::to_string(v.when.hour) + ":" +
             std::to_string(v.when.minute) + ":" + std::to_string(v.when.second);
    default:
      return v.s;
  }
}

struct Live {
  std::vector<std::vector<std::string>> rows;                 // sorted
  std::map<std::uint32_t, std::vector<std::string>> byRecno;  // 1-based record numbers
};

Live LiveRecords(const std::string& dbf) {
  const vfp::Table t(dbf);
  vfp::RecordScanner scan(t);
  Live out;
  while (const std::uint8_t* r = scan.nextLive()) {
    std::vector<std::string> row;
    for (int i : t.userFields()) {
      vfp::Value v;
      t.decodeField(r, std::size_t(i), v);
      row.push_back(Text(v));
    }
    out.byRecno[scan.recno() + 1] = row;
    out.rows.push_back(row);
  }
  std::sort(out.rows.begin(), out.rows.end());
  return out;
}

// The keys each tag holds for the live records.
std::map<std::string, std::multiset<std::string>> LiveTagKeys(const std::string& dbf,
                                                              const Live& live) {
  const vfp::cdx::IndexFile cdx = vfp::cdx::IndexFile::open(*vfp::findCompanion(dbf, ".cdx"));
  std::map<std::string, std::multiset<std::string>> out;
  for (const auto& tag : cdx.tags())
    for (const auto& k : cdx.keys(tag, tag.name == "ID" ? 0 : ' '))
      if (live.byRecno.count(k.recno)) out[tag.name].insert(k.key);
  return out;
}

// What a write cut short may leave: the container lists the table, every record decodes (its
// memos too) and, unless the write stopped between records and index, the index file is byte
// for byte the one the records give.
void ExpectWholeRecords(const std::string& dbc, const std::string& dbf, bool exactIndex) {
  EXPECT_TRUE(vfp::dbc::Container::open(dbc).find("items"));
  const vfp::Table t(dbf);
  vfp::RecordScanner scan(t);
  std::uint32_t records = 0;
  vfp::Value v;
  while (const std::uint8_t* r = scan.next()) {
    ++records;
    for (int i : t.userFields()) EXPECT_NO_THROW(t.decodeField(r, std::size_t(i), v));
  }
  EXPECT_EQ(records, t.recordCount());
  if (exactIndex) {
    EXPECT_TRUE(vfp::cdx::IndexFile::open(*vfp::findCompanion(dbf, ".cdx")).bytes() ==
                vfp::IndexMaintainer::open(dbf)->build())
        << "the index is not the one its records give";
  }
}

std::string IntKey(int v) {
  const auto u = std::uint32_t(v) ^ 0x80000000u;
  return {char(u >> 24), char(u >> 16), char(u >> 8), char(u)};
}

class SyncToFoxpro : public qmtest::MySqlDatabaseTest {
 protected:
  TempFolder fox;
  TempFolder config;  // no stored settings: everything from the command line

  qmtest::CommandRun tool(const std::string& target, std::vector<std::string> args) {
    for (const std::string& a : std::vector<std::string>{
             "--foxpro", target, "--mysql-server", sandbox().host, "--mysql-port", sandbox().port,
             "--mysql-user", sandbox().adminUser, "--mysql-password", sandbox().adminPassword,
             "--mysql-database", database()})
      args.push_back(a);
    return qmtest::runCommand("XDG_CONFIG_HOME=" + qmtest::shellQuote(config.path) +
                                  " " QM_BINARY_DIR "/tools/quillmere-transfer",
                              args);
  }
  void sendTyped(const std::string& target, const std::string& table) {
    const auto r = tool(target, {"--to-foxpro", "--typed", table});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }
  void run(const std::vector<std::string>& lines) {
    std::vector<std::unique_ptr<transfer::ScriptJob>> none;
    Execute(lines, none, FolderConnection(fox.path));
  }
  // The sync's script; report receives its report.
  std::vector<std::string> sync(const std::string& target, const std::vector<std::string>& tables,
                                transfer::SyncToFoxproHooks hooks, std::string* report = nullptr,
                                transfer::SyncOutcome* outcome = nullptr) {
    struct : CollectedScript {
      std::string text;
      void report(const std::string& t) override { text = t; }
    } sink;
    const auto o = transfer::BuildSyncToFoxpro(tables, FolderConnection(target), connectionString(),
                                               sink, hooks);
    if (report) *report = sink.text;
    if (outcome) *outcome = o;
    return sink.lines;
  }
};

TEST_F(SyncToFoxpro, RandomChangesArriveAsAFreshTypedCopyHasThemInAContainerAndAFreeFolder) {
  const std::string northwind = QM_FIXTURES_DIR "/VFPX__Samples/Northwind";
  fs::create_directories(fox.path + "/dbc");
  fs::create_directories(fox.path + "/free");
  for (const auto& e : fs::directory_iterator(northwind))
    fs::copy_file(e.path(), fox.path + "/dbc/" + e.path().filename().string());

  for (const bool container : {true, false}) {
    SCOPED_TRACE(container ? "container" : "free folder");
    const std::string dir = fox.path + (container ? "/dbc" : "/free");
    const std::string target = container ? dir + "/northwind.dbc" : dir;
    admin("DROP TABLE IF EXISTS items, fresh");
    admin(
        "CREATE TABLE items (id INT AUTO_INCREMENT PRIMARY KEY, code CHAR(6) NOT NULL, "
        "name VARCHAR(12) NULL, qty DECIMAL(8,2) NULL, price DECIMAL(19,4) NOT NULL, "
        "born DATE NULL, stamp DATETIME(3) NULL, flag TINYINT(1) NOT NULL, note TEXT NULL, "
        "ratio DOUBLE NULL, UNIQUE KEY code (code), KEY name (name))");
    std::mt19937 random(21);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    auto row = [&](const std::string& id) {
      auto maybe = [&](const std::string& v) { return pick(5) == 0 ? std::string("NULL") : v; };
      return "(" + id + ", 'c" + (id == "NULL" ? "n" + std::to_string(pick(10000)) : id) + "', " +
             maybe("'n" + std::to_string(pick(100)) + "'") + ", " +
             maybe(std::to_string(pick(20000) - 10000) + ".25") + ", " +
             std::to_string(pick(100000)) + ".0001, " +
             maybe("'20" + std::to_string(10 + pick(20)) + "-0" + std::to_string(1 + pick(9)) +
                   "-1" + std::to_string(pick(9)) + "'") +
             ", " +
             maybe("'2021-08-31 1" + std::to_string(pick(10)) + ":20:3" + std::to_string(pick(10)) +
                   "'") +
             ", " + std::to_string(pick(2)) + ", " +
             maybe("'it''s line " + std::to_string(pick(1000)) + "\\r\\nnext'") + ", " +
             maybe(std::to_string(pick(1000)) + ".5e-3") + ")";
    };
    std::string values;
    for (int id = 2; id <= 400; id += 2)
      values += (values.empty() ? "" : ",") + row(std::to_string(id));
    admin("INSERT INTO items VALUES " + values);
    sendTyped(target, "items");

    // Rows deleted, rows new (numbered by MySQL, and between the old ones), rows changed in
    // one column each; and changes the typed copy would not store, which are not sent.
    const char* const changes[] = {"code = CONCAT(TRIM(code), 'x')",
                                   "name = IF(name IS NULL, 'now', NULL)",
                                   "qty = IFNULL(qty, 0) + 1.25",
                                   "price = price + 0.0001",
                                   "born = IF(born IS NULL, '2020-02-29', NULL)",
                                   "stamp = IF(stamp IS NULL, '2021-08-31 12:00:01.900', NULL)",
                                   "flag = 1 - flag",
                                   "note = CONCAT(IFNULL(note, ''), '\\r\\nmore')",
                                   "ratio = IFNULL(ratio, 0) + 0.5"};
    std::set<int> ids;
    for (int id = 2; id <= 400; id += 2) ids.insert(id);
    auto takeId = [&] {
      auto it = ids.begin();
      std::advance(it, pick(int(ids.size())));
      const int id = *it;
      ids.erase(it);
      return std::to_string(id);
    };
    int deleted = 0, added = 0, updated = 0;
    for (int n = 0; n < 12; ++n, ++deleted) admin("DELETE FROM items WHERE id = " + takeId());
    for (int n = 0; n < 12; ++n, ++added)
      admin("INSERT INTO items VALUES " + row(n % 2 ? "NULL" : std::to_string(2 * n + 101)));
    for (int n = 0; n < 18; ++n, ++updated)
      admin(std::string("UPDATE items SET ") + changes[n % 9] + " WHERE id = " + takeId());
    for (int n = 0; n < 6; ++n)
      admin("UPDATE items SET stamp = stamp + INTERVAL 250000 MICROSECOND WHERE id = " + takeId());

    transfer::SyncToFoxproHooks hooks;
    hooks.deleteTargetOnly = true;
    std::string report;
    transfer::SyncOutcome outcome;
    const auto lines = sync(target, {"items"}, hooks, &report, &outcome);
    ASSERT_EQ(outcome.tables.size(), 1u) << report;
    EXPECT_EQ(outcome.tables[0].inserts, added) << report;
    EXPECT_EQ(outcome.tables[0].deletes, deleted) << report;
    EXPECT_EQ(outcome.tables[0].updates, updated) << report;
    // The numbering field takes MySQL's numbers and then numbers on from MySQL's next one.
    ASSERT_EQ(lines.front(),
              "ALTER TABLE [items] ALTER COLUMN " + std::string(container ? "id" : "ID") + " I");
    EXPECT_EQ(lines.size(), std::size_t(added + deleted + updated + 2));

    // Run as any FoxPro script is, by the tool.
    const auto run = tool(target, {"--sync", "--to-foxpro", "--delete", "items"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("items: " + std::to_string(added) + " rows to insert"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(sync(target, {"items"}, hooks).empty());
    {
      const vfp::Table t(dir + "/items.DBF");
      const auto& id = t.header().fields[std::size_t(t.userFields()[0])];
      EXPECT_TRUE(id.isAutoInc());
      EXPECT_EQ(std::to_string(id.autoIncNext),
                MySqlRows(connectionString(),
                          "SELECT AUTO_INCREMENT FROM information_schema.TABLES WHERE "
                          "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = 'items'")[0][0]);
    }

    admin("CREATE TABLE fresh LIKE items");
    admin("INSERT INTO fresh SELECT * FROM items");
    sendTyped(target, "fresh");
    const Live synced = LiveRecords(dir + "/items.dbf"), copied = LiveRecords(dir + "/fresh.dbf");
    EXPECT_EQ(synced.rows, copied.rows);
    EXPECT_EQ(synced.rows.size(), ids.size() + 6 + 18 + std::size_t(added));
    // Each tag holds its live records' keys, as the fresh copy's tags do; the primary and the
    // unique key exactly those the records give; and the index is what a rebuild makes of
    // the records, deleted ones included.
    const auto tags = LiveTagKeys(dir + "/items.dbf", synced);
    EXPECT_EQ(tags, LiveTagKeys(dir + "/fresh.dbf", copied));
    std::multiset<std::string> idKeys, codeKeys;
    for (const auto& [recno, r] : synced.byRecno) {
      idKeys.insert(IntKey(std::stoi(r[0])));
      codeKeys.insert(r[1] + std::string(6 - r[1].size(), ' '));
    }
    EXPECT_EQ(tags.at("ID"), idKeys);
    EXPECT_EQ(tags.at("CODE"), codeKeys);
    EXPECT_TRUE(
        vfp::cdx::IndexFile::open(*vfp::findCompanion(dir + "/items.DBF", ".cdx")).bytes() ==
        vfp::IndexMaintainer::open(dir + "/items.DBF")->build());

    // Level now: the tool finds nothing, writes nothing, and says so.
    const std::string dryRun = config.file("sync.prg");
    const auto again = tool(target, {"--sync", "--to-foxpro", "--dry-run", dryRun, "items"});
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_NE(again.out.find("items: no changes\nNothing changed."), std::string::npos)
        << again.out;
    EXPECT_EQ(qmtest::readWholeFile(dryRun), "");
  }
  EXPECT_NE(tool(fox.path, {"--help"}).out.find("with --to-foxpro the MySQL"), std::string::npos);
}

TEST_F(SyncToFoxpro, CompositeBlankPaddedKeysNullsAMemoOnlyChangeAndWhatCannotBeMatched) {
  admin(
      "CREATE TABLE parts (grp CHAR(4) NOT NULL, code VARCHAR(6) NOT NULL, note TEXT NULL, "
      "qty INT NULL, label VARCHAR(10) NULL, PRIMARY KEY (grp, code))");
  admin(
      "INSERT INTO parts VALUES ('a', 'x1', 'first', 1, 'one'), ('a', 'x', 'memo\\r\\nbefore', "
      "2, NULL), ('ab', 'x', NULL, NULL, 'edge'), ('zz', 'q', 'gone', 3, NULL)");
  admin("CREATE TABLE loose (a INT NOT NULL, b CHAR(2))");
  admin("INSERT INTO loose VALUES (1, 'x'), (1, 'y')");
  sendTyped(fox.path, "parts");
  sendTyped(fox.path, "loose");

  // In the row ("a", "x") the memo alone changes and a value becomes NULL: neither ("ab", "x")
  // nor ("a", "x1"), which "=" on shorter text would match, may change. A row is new and one
  // is gone.
  admin("UPDATE parts SET note = 'memo\\r\\nafter', qty = NULL WHERE grp = 'a' AND code = 'x'");
  admin("INSERT INTO parts VALUES ('b', 'x', 'new', 4, NULL)");
  admin("DELETE FROM parts WHERE grp = 'zz'");
  std::string report;
  const auto lines = sync(fox.path, {"parts", "loose"}, {}, &report);
  ASSERT_EQ(lines.size(), 2u) << report;
  EXPECT_EQ(lines[0],
            "UPDATE [parts] SET NOTE = 'memo'+CHR(13)+CHR(10)+'after', QTY = NULL WHERE "
            "GRP = 'a   ' AND CODE == 'x'");
  EXPECT_EQ(lines[1], "INSERT INTO [parts] VALUES ('b', 'x', 'new', 4, NULL)");
  EXPECT_NE(report.find("parts: 1 row to insert (key b, x), 1 row to update (key a, x), 1 row "
                        "only in FoxPro, left alone (--delete removes them) (key zz, q)"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("loose: left out: it has no primary key or unique key"), std::string::npos)
      << report;
  run(lines);
  std::vector<std::vector<std::string>> rows = LiveRecords(fox.file("parts.dbf")).rows;
  EXPECT_EQ(rows,
            (std::vector<std::vector<std::string>>{{"a", "x", "memo\r\nafter", "<null>", "<null>"},
                                                   {"a", "x1", "first", "1", "one"},
                                                   {"ab", "x", "<null>", "<null>", "edge"},
                                                   {"b", "x", "new", "4", "<null>"},
                                                   {"zz", "q", "gone", "3", "<null>"}}));
  EXPECT_TRUE(sync(fox.path, {"parts"}, {}, &report).empty()) << report;

  // Deleted now, then made again in MySQL: FoxPro's candidate tag still counts the deleted
  // record's key, so that record is recalled and given the row; the tags stay exact.
  transfer::SyncToFoxproHooks deleting;
  deleting.deleteTargetOnly = true;
  const auto removal = sync(fox.path, {"parts"}, deleting);
  ASSERT_EQ(removal,
            std::vector<std::string>{"DELETE FROM [parts] WHERE GRP = 'zz  ' AND CODE == 'q'"});
  run(removal);
  admin("INSERT INTO parts VALUES ('zz', 'q', 'back', 5, 'again')");
  const auto back = sync(fox.path, {"parts"}, deleting, &report);
  EXPECT_EQ(back, (std::vector<std::string>{
                      "RECALL FOR GRP = 'zz  ' AND CODE == 'q' IN [parts]",
                      "UPDATE [parts] SET GRP = 'zz', CODE = 'q', NOTE = 'back', QTY = 5, LABEL "
                      "= 'again' WHERE GRP = 'zz  ' AND CODE == 'q'"}))
      << report;
  run(back);
  const Live recalled = LiveRecords(fox.file("parts.dbf"));
  EXPECT_EQ(recalled.rows.back(), (std::vector<std::string>{"zz", "q", "back", "5", "again"}));
  EXPECT_EQ(recalled.rows.size(), 5u);
  EXPECT_TRUE(
      vfp::cdx::IndexFile::open(*vfp::findCompanion(fox.file("parts.dbf"), ".cdx")).bytes() ==
      vfp::IndexMaintainer::open(fox.file("parts.dbf"))->build());
  EXPECT_TRUE(sync(fox.path, {"parts"}, deleting, &report).empty()) << report;

  // A key that is not unique is refused with the duplicate named; a table FoxPro no longer
  // has the shape of, likewise.
  transfer::SyncToFoxproHooks byA;
  byA.key = {"a"};
  sync(fox.path, {"loose"}, byA, &report);
  EXPECT_NE(report.find("loose: left out: its key (the key named) is not unique in FoxPro: "
                        "records 1 and 2 both have 1"),
            std::string::npos)
      << report;
  admin("DELETE FROM parts WHERE grp = 'zz'");
  admin("ALTER TABLE parts MODIFY qty BIGINT");
  sync(fox.path, {"parts"}, {}, &report);
  EXPECT_NE(report.find("the field QTY is I NULL, where the typed send makes N(20) NULL"),
            std::string::npos)
      << report;
}

TEST_F(SyncToFoxpro, AKilledSyncLeavesWholeRecordsAndExactTagsAndTheNextSyncCompletesIt) {
  const std::string northwind = QM_FIXTURES_DIR "/VFPX__Samples/Northwind";
  const std::string dir = fox.path + "/dbc", saved = fox.path + "/saved";
  fs::create_directories(dir);
  for (const auto& e : fs::directory_iterator(northwind))
    fs::copy_file(e.path(), dir + "/" + e.path().filename().string());
  const std::string dbc = dir + "/northwind.dbc";
  // A primary, a candidate and a regular tag, and a memo.
  admin(
      "CREATE TABLE items (id INT AUTO_INCREMENT PRIMARY KEY, code CHAR(8) NOT NULL, "
      "name VARCHAR(12) NULL, note TEXT NULL, qty INT NULL, UNIQUE KEY code (code), "
      "KEY name (name))");
  admin(
      "INSERT INTO items SELECT seq, CONCAT('c', seq), CONCAT('n', seq % 97), "
      "IF(seq % 5 = 0, NULL, REPEAT(CONCAT('memo ', seq, ' '), 1 + seq % 9)), seq FROM "
      "seq_1_to_6000");
  sendTyped(dbc, "items");
  fs::copy(dir, saved);
  // Updates to every kind of field, the keys of both unique tags' neighbours among them; rows
  // gone and rows new.
  admin(
      "UPDATE items SET code = CONCAT('u', id), name = CONCAT('m', id % 89), note = "
      "CONCAT(IFNULL(note, ''), ' changed'), qty = NULL WHERE id % 3 = 0");
  admin("DELETE FROM items WHERE id % 7 = 1");
  admin(
      "INSERT INTO items (code, name, note, qty) SELECT CONCAT('new', seq), CONCAT('n', seq % 13), "
      "REPEAT('added ', seq % 40), seq FROM seq_1_to_1500");
  admin("CREATE TABLE fresh LIKE items");
  admin("INSERT INTO fresh SELECT * FROM items");
  sendTyped(dbc, "fresh");
  const Live source = LiveRecords(dir + "/fresh.dbf");

  const std::vector<std::string> toolArgs{
      "--mysql-server",   sandbox().host,      "--mysql-port",     sandbox().port,
      "--mysql-user",     sandbox().adminUser, "--mysql-password", sandbox().adminPassword,
      "--mysql-database", database()};
  QStringList args{"--sync", "--to-foxpro", "--delete", "--foxpro", QString::fromStdString(dbc)};
  for (const std::string& a : toolArgs) args << QString::fromStdString(a);
  args << "items";
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.path));
  transfer::SyncToFoxproHooks deleting;
  deleting.deleteTargetOnly = true;

  std::mt19937 random(7);
  int cutShort = 0, checkedExactly = 0;
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    for (const auto& e : fs::directory_iterator(saved))
      fs::copy_file(e.path(), dir + "/" + e.path().filename().string(),
                    fs::copy_options::overwrite_existing);
    // Killed once its output shows the script running, after a short random while (the whole
    // script takes a few tens of milliseconds here).
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QM_BINARY_DIR "/tools/quillmere-transfer"), args);
    ASSERT_TRUE(p.waitForStarted());
    p.setReadChannel(QProcess::StandardError);
    QByteArray err;
    while (p.state() == QProcess::Running && !err.contains("progress ")) {
      p.waitForReadyRead(100);
      err += p.readAllStandardError();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 25000));
    p.kill();
    p.waitForFinished();
    const bool killed = p.exitStatus() == QProcess::CrashExit;
    cutShort += killed;

    // A kill within the few writes that put a flush's changed records in the file, just before
    // the new index replaces the old one, leaves that new index behind and the old one with
    // some records' old keys: the one moment a .dbf and its .cdx cannot agree. Anywhere else
    // the tags hold exactly the records' keys.
    const std::string newIndex = *vfp::findCompanion(dir + "/items.dbf", ".cdx") + ".new";
    const bool betweenRecordsAndIndex = fs::exists(newIndex);
    checkedExactly += !betweenRecordsAndIndex;
    ExpectWholeRecords(dbc, dir + "/items.dbf", !betweenRecordsAndIndex);
    const auto rerun = tool(dbc, {"--sync", "--to-foxpro", "--delete", "items"});
    ASSERT_EQ(rerun.status, 0) << rerun.out << rerun.err;
    EXPECT_FALSE(fs::exists(newIndex));
    ExpectWholeRecords(dbc, dir + "/items.dbf", true);
    EXPECT_EQ(LiveRecords(dir + "/items.dbf").rows, source.rows);
    EXPECT_TRUE(sync(dbc, {"items"}, deleting).empty());
  }
  // Most rounds end the tool mid-script, and most of those outside that moment.
  EXPECT_GE(cutShort, 6);
  EXPECT_GE(checkedExactly, 4);
}

}  // namespace
