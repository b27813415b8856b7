// quillmere-transfer, the command-line tool, run as a user's nightly job would run it: a table
// goes each way and arrives equal, a dry run writes the preview's script and changes nothing,
// and the exit status tells what happened.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>

#include "foxpro_to_mysql_support.h"
#include "support/mute_server.h"
#include "support/mysql_sandbox.h"
#include "tests/vfp/codepage_texts.h"
#include "transfer/foxpro_to_mysql.h"
#include "vfp/codepage.h"
#include "vfp/dbc.h"

using namespace tomysql_test;

namespace {

struct ToolRun {
  int exitCode = -1;
  std::string out;  // the Notes and the report
  std::string err;  // progress
};

class TransferTool : public qmtest::MySqlDatabaseTest {
 protected:
  QTemporaryDir config;  // no stored settings: everything comes from the command line
  TempFolder fox;
  bool passwordOnCommandLine = true;
  QProcessEnvironment extraEnv;

  // `after` comes last, so it may replace the sandbox's settings; whileRunning is called once
  // the tool has started.
  ToolRun run(QStringList args, const QStringList& after = {},
              const std::function<void(QProcess&)>& whileRunning = {}) {
    args << serverArgs() << after;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.remove("MYSQL_PWD");
    env.insert(extraEnv);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QM_BINARY_DIR "/tools/quillmere-transfer"), args);
    if (whileRunning && p.waitForStarted()) whileRunning(p);
    EXPECT_TRUE(p.waitForFinished(120000)) << p.errorString().toStdString();
    ToolRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
  }
  QStringList serverArgs() {
    QStringList args{"--mysql-server",   QString::fromStdString(sandbox().host),
                     "--mysql-port",     QString::fromStdString(sandbox().port),
                     "--mysql-user",     QString::fromStdString(sandbox().adminUser),
                     "--mysql-database", QString::fromStdString(database())};
    if (passwordOnCommandLine)
      args << "--mysql-password" << QString::fromStdString(sandbox().adminPassword);
    return args;
  }
  QString foxFolder() const { return QString::fromStdString(fox.path); }

  // Waits until another connection runs a statement LIKE `pattern` and calls `end` with the
  // administrator's session watching it and that connection's id; false when no such statement
  // shows within a minute.
  bool WhenRunning(const std::string& pattern,
                   const std::function<void(ado::Connection&, const std::string&)>& end) {
    ado::Connection watch;
    watch.open(connectionString());
    for (auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
         std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
      ado::RecordSet rs(
          watch.execute("SELECT ID FROM information_schema.PROCESSLIST WHERE INFO LIKE '" +
                        pattern + "' AND ID <> CONNECTION_ID()"));
      if (rs.eof()) continue;
      const std::string id = rs.value(0).toText();
      rs.close();
      end(watch, id);
      return true;
    }
    return false;
  }
  // Ends, from an administrator's session, the connection that runs a statement LIKE `pattern`.
  bool KillConnectionRunning(const std::string& pattern) {
    return WhenRunning(pattern, [](ado::Connection& watch, const std::string& id) {
      watch.execute("KILL CONNECTION " + id);
    });
  }
};

}  // namespace

TEST_F(TransferTool, ATableGoesEachWayAndArrivesEqual) {
  Fox(fox.path, {"CREATE TABLE orders (id I, note C(10) NULL, day D, price N(8,2))",
                 "INSERT INTO orders VALUES (1, 'it''s', {^2021-08-31}, 12.5)",
                 "INSERT INTO orders VALUES (2, 'plain', {^2020-01-02}, -3)"});
  const auto original = FoxRows(FolderConnection(fox.path), "orders");

  ToolRun there = run({"--to-mysql", "--foxpro", foxFolder(), "orders"});
  EXPECT_EQ(there.exitCode, 0) << there.out << there.err;
  EXPECT_NE(there.err.find("Transfer finished."), std::string::npos) << there.err;
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT id, note, day, price FROM orders ORDER BY id"),
            (std::vector<std::vector<std::string>>{{"1", "it's", "2021-08-31", "12.50"},
                                                   {"2", "plain", "2020-01-02", "-3.00"}}));

  // And back into another folder: the same rows as the FoxPro table the trip started from.
  TempFolder back;
  ToolRun home = run({"--to-foxpro", "--foxpro", QString::fromStdString(back.path), "orders"});
  EXPECT_EQ(home.exitCode, 0) << home.out << home.err;
  EXPECT_EQ(FoxRows(FolderConnection(back.path), "orders"), original);

  // The table is there now: without --overwrite it is left alone and the status says so.
  ToolRun again = run({"--to-mysql", "--foxpro", foxFolder(), "orders"});
  EXPECT_EQ(again.exitCode, 2) << again.out;
  EXPECT_NE(again.out.find("orders: MySQL has it already"), std::string::npos) << again.out;
}

TEST_F(TransferTool, TypedSendsAContainersTablesWithTheirTypesKeysAndRelation) {
  const fs::path from = fs::path(QM_FIXTURES_DIR) / "infused__dbf/spec/fixtures/foxprodb";
  for (const auto& e : fs::directory_iterator(from))
    fs::copy_file(e.path(), fs::path(fox.path) / e.path().filename());
  const std::string dbc = fox.path + "/FOXPRO-DB-TEST.DBC";
  ado::Connection c;
  c.open("Provider=vfpoledb.1;Data Source=" + dbc + ";");
  for (const char* sql :
       {"CREATE TABLE shop (id I PRIMARY KEY, name C(12), opened D, till Y, open L NULL)",
        "INSERT INTO shop VALUES (1, 'North', {^2021-08-31}, 12.5, .T.)",
        "INSERT INTO shop VALUES (2, 'South', {^2020-01-02}, -3, NULL)",
        "INDEX ON UPPER(name) TAG uname",
        "CREATE TABLE sale (sid I PRIMARY KEY, shop I, FOREIGN KEY shop TAG shop REFERENCES shop)",
        "INSERT INTO sale VALUES (10, 2)"})
    c.execute(sql);
  c.close();

  ToolRun r =
      run({"--to-mysql", "--typed", "--foxpro", QString::fromStdString(dbc), "shop", "sale"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  // Every column typed, and the keys, the index and the foreign key there, as the server says.
  EXPECT_EQ(
      MySqlRows(connectionString(),
                "SELECT c.TABLE_NAME, c.COLUMN_NAME, c.COLUMN_TYPE, c.IS_NULLABLE, "
                "IFNULL(GROUP_CONCAT(DISTINCT CONCAT(s.INDEX_NAME, IF(s.NON_UNIQUE, '', '!')) "
                "ORDER BY s.INDEX_NAME), ''), IFNULL(MAX(k.REFERENCED_TABLE_NAME), '') "
                "FROM information_schema.COLUMNS c LEFT JOIN information_schema.STATISTICS s "
                "ON s.TABLE_SCHEMA = c.TABLE_SCHEMA AND s.TABLE_NAME = c.TABLE_NAME AND "
                "s.COLUMN_NAME = c.COLUMN_NAME LEFT JOIN information_schema.KEY_COLUMN_USAGE k "
                "ON k.TABLE_SCHEMA = c.TABLE_SCHEMA AND k.TABLE_NAME = c.TABLE_NAME AND "
                "k.COLUMN_NAME = c.COLUMN_NAME AND k.REFERENCED_TABLE_NAME IS NOT NULL "
                "WHERE c.TABLE_SCHEMA = DATABASE() GROUP BY c.TABLE_NAME, c.COLUMN_NAME, "
                "c.ORDINAL_POSITION ORDER BY c.TABLE_NAME, c.ORDINAL_POSITION"),
      (std::vector<std::vector<std::string>>{{"sale", "sid", "int(11)", "NO", "PRIMARY!", ""},
                                             {"sale", "shop", "int(11)", "NO", "SHOP", "shop"},
                                             {"shop", "id", "int(11)", "NO", "PRIMARY!", ""},
                                             {"shop", "name", "char(12)", "NO", "UNAME", ""},
                                             {"shop", "opened", "date", "NO", "", ""},
                                             {"shop", "till", "decimal(19,4)", "NO", "", ""},
                                             {"shop", "open", "tinyint(1)", "YES", "", ""}}));
  EXPECT_EQ(
      MySqlRows(connectionString(), "SELECT * FROM shop ORDER BY id"),
      (std::vector<std::vector<std::string>>{{"1", "North", "2021-08-31", "12.5000", "1"},
                                             {"2", "South", "2020-01-02", "-3.0000", "<null>"}}));
}

TEST_F(TransferTool, ADryRunWritesThePreviewsScriptAndChangesNothing) {
  Fox(fox.path, {"CREATE TABLE zeta (z L, d D)", "INSERT INTO zeta VALUES (.T., {^2021-08-31})"});
  admin("CREATE TABLE zeta (old INT)");
  QTemporaryDir out;
  const QString file = out.filePath("script.sql");
  ToolRun dry = run(
      {"--to-mysql", "--overwrite", "--dry-run", file, "--foxpro", foxFolder(), "zeta", "missing"});
  EXPECT_EQ(dry.exitCode, 1) << dry.out << dry.err;  // "missing" refused, zeta would go
  EXPECT_NE(dry.out.find("zeta: replaces the MySQL table"), std::string::npos) << dry.out;
  EXPECT_NE(dry.out.find("missing: not in the FoxPro database"), std::string::npos) << dry.out;
  // The report the preview's Notes would show before Execute.
  EXPECT_NE(dry.out.find("column d: dates go as text (2024-01-31), as always"), std::string::npos)
      << dry.out;
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  // The script the preview would show for the same choice.
  ado::Connection source;
  source.setCursorLocation(ado::adUseClient);
  source.open(FolderConnection(fox.path));
  transfer::TableScript part =
      transfer::ScriptTable(source, FolderConnection(fox.path), "zeta", true);
  std::string expected;
  for (const auto& c : part.commands) expected += c + "\r\n";
  EXPECT_EQ(written.readAll().toStdString(), expected);
  std::vector<std::string> columns;
  MySqlRows(connectionString(), "SELECT * FROM zeta", &columns);
  EXPECT_EQ(columns, std::vector<std::string>{"old"});

  // Nothing it could do: status 2, and why on standard output.
  ToolRun none = run({"--to-foxpro", "--foxpro", foxFolder(), "nosuchtable"});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.out.find("nosuchtable: cannot be read"), std::string::npos) << none.out;
}

TEST_F(TransferTool, AServerThatNeverAnswersEndsTheRunWithinTheConnectLimit) {
  // Accepts the connection and never greets: the run gives up as a connection in the other
  // direction does, says so, and has done nothing.
  qmtest::MuteServer mute;
  ToolRun r = run({"--to-foxpro", "--foxpro", foxFolder(), "t"},
                  {"--mysql-port", QString::fromStdString(mute.port())});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("connecting to MySQL at 127.0.0.1:" + mute.port()), std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("Lost connection"), std::string::npos) << r.out;
}

TEST_F(TransferTool, AReadThatBreaksOffLeavesTheTableOutWholeAndTheStatusSaysSo) {
  admin("CREATE TABLE a (n INT)");
  admin("INSERT INTO a VALUES (1)");
  admin("CREATE TABLE w (n INT, s VARCHAR(60))");
  admin("INSERT INTO w SELECT seq, REPEAT('x', 60) FROM seq_1_to_300000");
  // FoxPro holds a complete older w, which --overwrite would replace.
  Fox(fox.path, {"CREATE TABLE w (n M, s M)", "INSERT INTO w VALUES ('1', 'old')"});
  const auto before = FoxRows(FolderConnection(fox.path), "w");
  bool killed = false;
  ToolRun r = run({"--to-foxpro", "--overwrite", "--foxpro", foxFolder(), "a", "w"}, {},
                  [&](QProcess&) { killed = KillConnectionRunning("SELECT * FROM `w`"); });
  ASSERT_TRUE(killed);
  // a arrived, w did not: not everything arrived, and the output says why.
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("Table w:\n  left out of the script: reading stopped after "),
            std::string::npos)
      << r.out;
  EXPECT_EQ(FoxRows(FolderConnection(fox.path), "w"), before);
  EXPECT_EQ(FoxRows(FolderConnection(fox.path), "a").size(), 1u);
}

TEST_F(TransferTool, ATableReplacingAnotherInMySqlGoesInWholeOrTheOldOneStays) {
  // The FoxPro name differs from MySQL's only in letter case; this server keeps both apart.
  std::vector<std::string> rows;
  for (int r = 0; r < 200000; ++r) rows.push_back(std::to_string(r));
  std::vector<std::string> statements = {"CREATE TABLE [big list] (n I, s C(40))"};
  for (const auto& n : rows) statements.push_back("INSERT INTO [big list] VALUES (" + n + ", 'x')");
  Fox(fox.path, statements);
  admin("CREATE TABLE `Big List` (old INT)");
  admin("INSERT INTO `Big List` VALUES (1), (2), (3)");
  const auto old = MySqlRows(connectionString(), "SELECT * FROM `Big List`");

  // Without --overwrite it is left out, and the output says which table MySQL has.
  ToolRun kept = run({"--to-mysql", "--foxpro", foxFolder(), "big list"});
  EXPECT_EQ(kept.exitCode, 2) << kept.out;
  EXPECT_NE(kept.out.find("big list: MySQL has it already as Big List; left out"),
            std::string::npos)
      << kept.out;

  // The connection lost while the rows go in: the run stops, the copy goes, the old table stays.
  bool killed = false;
  ToolRun cut = run({"--to-mysql", "--overwrite", "--foxpro", foxFolder(), "big list"}, {},
                    [&](QProcess&) { killed = KillConnectionRunning("%INTO %`Big List_qmnew`%"); });
  ASSERT_TRUE(killed);
  EXPECT_EQ(cut.exitCode, 3) << cut.out << cut.err;
  EXPECT_NE(cut.out.find("big list: replaces the MySQL table Big List"), std::string::npos)
      << cut.out;
  EXPECT_NE(cut.out.find("The MySQL table Big List is as it was."), std::string::npos) << cut.out;
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM `Big List`"), old);
  EXPECT_EQ(MySqlRows(connectionString(), "SHOW TABLES"),
            (std::vector<std::vector<std::string>>{{"Big List"}}));

  // Run again, it replaces that very table, under its own name: no second table appears.
  ToolRun whole = run({"--to-mysql", "--overwrite", "--foxpro", foxFolder(), "big list"});
  EXPECT_EQ(whole.exitCode, 0) << whole.out << whole.err;
  EXPECT_EQ(MySqlRows(connectionString(), "SHOW TABLES"),
            (std::vector<std::vector<std::string>>{{"Big List"}}));
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT COUNT(*) FROM `Big List`"),
            (std::vector<std::vector<std::string>>{{"200000"}}));
}

TEST_F(TransferTool, AFoxproTableBeingReplacedSurvivesTheToolKilledAndAFullDisk) {
  admin("CREATE TABLE w (n INT, s TEXT)");
  admin("INSERT INTO w SELECT seq, REPEAT('x', 100) FROM seq_1_to_100");
  // In a database container: the old table is a member, and stays one.
  const QString northwind = QStringLiteral(QM_FIXTURES_DIR "/VFPX__Samples/Northwind");
  for (const QString& name : QDir(northwind).entryList(QDir::Files))
    ASSERT_TRUE(QFile::copy(northwind + "/" + name, foxFolder() + "/" + name));
  const QString dbc = foxFolder() + "/northwind.dbc";
  ASSERT_EQ(run({"--to-foxpro", "--foxpro", dbc, "w"}).exitCode, 0);
  const auto old = FoxRows(FolderConnection(fox.path), "w");
  ASSERT_EQ(old.size(), 100u);
  admin("INSERT INTO w SELECT seq, REPEAT('y', 100) FROM seq_101_to_100000");

  // Killed at a tenth of writing the new copy: the old table is whole and listed, the copy is
  // named in what the tool said before.
  ToolRun killed = run({"--to-foxpro", "--overwrite", "--foxpro", dbc, "w"}, {}, [&](QProcess& p) {
    QByteArray err;
    p.setReadChannel(QProcess::StandardError);
    while (p.state() == QProcess::Running && !err.contains("progress 10%")) {
      p.waitForReadyRead(100);
      err += p.readAllStandardError();
    }
    p.kill();
  });
  EXPECT_EQ(killed.exitCode, -1) << killed.out << killed.err;  // it did not end by itself
  EXPECT_NE(killed.out.find("built as w_qmnew.DBF, which takes its place once complete"),
            std::string::npos)
      << killed.out;
  const auto container = vfp::dbc::Container::open(dbc.toStdString());
  EXPECT_NO_THROW(container.members());  // every member's file is there
  ASSERT_TRUE(container.find("w"));
  EXPECT_EQ(container.find("w")->path, fox.path + "/w.DBF");
  EXPECT_EQ(FoxRows(FolderConnection(fox.path), "w"), old);

  // A full disk: the new copy cannot be written; it is removed, and the old table is as it was.
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  QTemporaryDir small;
  const std::string mountPoint = small.path().toStdString();
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=2m") != 0)
    GTEST_SKIP() << "no tmpfs could be mounted";
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount(at.c_str()); }
  } unmount{mountPoint};
  auto files = [&] {
    QStringList names = QDir(small.path()).entryList(QDir::Files);
    for (auto& n : names) n = n.toLower();
    names.sort();
    return names;
  };
  // A new table too big for the disk is not left there half written.
  ToolRun tooBig = run({"--to-foxpro", "--foxpro", small.path(), "w"});
  EXPECT_EQ(tooBig.exitCode, 3) << tooBig.out << tooBig.err;
  EXPECT_TRUE(files().isEmpty()) << files().join(",").toStdString();
  admin("DELETE FROM w WHERE n > 100");
  ASSERT_EQ(run({"--to-foxpro", "--foxpro", small.path(), "w"}).exitCode, 0);
  const auto before = FoxRows(FolderConnection(mountPoint), "w");
  admin("INSERT INTO w SELECT seq, REPEAT('z', 100) FROM seq_101_to_100000");
  ToolRun full = run({"--to-foxpro", "--overwrite", "--foxpro", small.path(), "w"});
  EXPECT_EQ(full.exitCode, 3) << full.out << full.err;
  EXPECT_NE(full.out.find("its file w_qmnew.DBF was removed, and w is as it was."),
            std::string::npos)
      << full.out;
  EXPECT_EQ(FoxRows(FolderConnection(mountPoint), "w"), before);
  EXPECT_EQ(files(), (QStringList{"w.dbf", "w.fpt"})) << files().join(",").toStdString();
}

namespace {

// A server that folds table names to lower case (as MySQL on Windows does).
class TransferToolFoldingNames : public TransferTool {
 protected:
  const char* sandboxVariable() const override { return qmtest::kLowerCaseSandboxVariable; }
};

}  // namespace

TEST_F(TransferToolFoldingNames, AReplacementTakesTheFoldedNamesPlace) {
  Fox(fox.path, {"CREATE TABLE Orders (n I)", "INSERT INTO Orders VALUES (7)"});
  admin("CREATE TABLE ORDERS (old INT)");  // kept as "orders"
  ToolRun r = run({"--to-mysql", "--overwrite", "--foxpro", foxFolder(), "Orders"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Orders: replaces the MySQL table orders"), std::string::npos) << r.out;
  EXPECT_EQ(MySqlRows(connectionString(), "SHOW TABLES"),
            (std::vector<std::vector<std::string>>{{"orders"}}));
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM orders"),
            (std::vector<std::vector<std::string>>{{"7"}}));
}

namespace {

constexpr const char* kOwnSandboxVariable = "QM_TRANSFER_TOOL_OWN_SANDBOX_DIR";

// A server of these tests' own, which they kill as a crash would and start again from its data
// (the shared sandbox must stay up for the tests running beside them).
class TransferToolOwnServer : public TransferTool {
 protected:
  static inline std::string dir_;
  static inline std::string startError_;

  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/qm-own-server-XXXXXX";
    if (!mkdtemp(tmpl)) {
      startError_ = "no temporary folder";
      return;
    }
    QProcess p;
    p.start(QStringLiteral(QM_SOURCE_DIR "/scripts/mysql-sandbox"), {"start", tmpl});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
      startError_ = "scripts/mysql-sandbox start failed: " + p.readAllStandardError().toStdString();
      return;
    }
    dir_ = tmpl;
    setenv(kOwnSandboxVariable, dir_.c_str(), 1);
  }
  static void TearDownTestSuite() {
    if (dir_.empty()) return;
    QProcess p;
    p.start(QStringLiteral(QM_SOURCE_DIR "/scripts/mysql-sandbox"),
            {"stop", QString::fromStdString(dir_)});
    p.waitForFinished(60000);
  }
  const char* sandboxVariable() const override { return kOwnSandboxVariable; }
  void SetUp() override {
    if (dir_.empty()) {
      if (qmtest::mysqlOptional()) GTEST_SKIP() << startError_;
      FAIL() << startError_;
    }
    TransferTool::SetUp();
  }

  // Kills the server at once (SIGKILL, as a crash) and keeps its command line for restart().
  void killServer() {
    QFile pidFile(QString::fromStdString(dir_ + "/mariadbd.pid"));
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const pid_t pid = pid_t(pidFile.readAll().trimmed().toLong());
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    ASSERT_TRUE(cmdline.open(QIODevice::ReadOnly));
    serverCommand_ = QString::fromLocal8Bit(cmdline.readAll()).split(QChar(0), Qt::SkipEmptyParts);
    ASSERT_FALSE(serverCommand_.isEmpty());
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
  }
  // Starts the killed server again on its data and waits until it answers.
  void restart() {
    ASSERT_FALSE(serverCommand_.isEmpty());
    QProcess server;
    server.setProgram(serverCommand_.front());
    server.setArguments(serverCommand_.mid(1));
    server.setStandardInputFile(QProcess::nullDevice());
    server.setStandardOutputFile(QProcess::nullDevice());
    server.setStandardErrorFile(QProcess::nullDevice());
    ASSERT_TRUE(server.startDetached());
    for (auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
         std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
      try {
        ado::Connection c;
        c.open(connectionString());
        return;
      } catch (const ado::DataAccessError&) {
      }
    }
    FAIL() << "the server did not come back within a minute";
  }

 private:
  QStringList serverCommand_;
};

}  // namespace

TEST_F(TransferToolOwnServer, AServerKilledMidwayLeavesNoPartialTableAndTheOldOneAsItWas) {
  // To FoxPro: the server dies while w is read. w is left out, FoxPro keeps its complete older
  // w, and the table read before it still arrives.
  admin("CREATE TABLE a (n INT)");
  admin("INSERT INTO a VALUES (1)");
  admin("CREATE TABLE w (n INT, s VARCHAR(60))");
  admin("INSERT INTO w SELECT seq, REPEAT('x', 60) FROM seq_1_to_300000");
  Fox(fox.path, {"CREATE TABLE w (n M, s M)", "INSERT INTO w VALUES ('1', 'old')"});
  const auto foxBefore = FoxRows(FolderConnection(fox.path), "w");
  bool killed = false;
  ToolRun read =
      run({"--to-foxpro", "--overwrite", "--foxpro", foxFolder(), "a", "w"}, {}, [&](QProcess&) {
        killed = WhenRunning("SELECT * FROM `w`",
                             [&](ado::Connection&, const std::string&) { killServer(); });
      });
  ASSERT_TRUE(killed);
  EXPECT_EQ(read.exitCode, 1) << read.out << read.err;
  EXPECT_NE(read.out.find("left out of the script: reading stopped after"), std::string::npos)
      << read.out;
  EXPECT_EQ(FoxRows(FolderConnection(fox.path), "w"), foxBefore);
  EXPECT_EQ(FoxRows(FolderConnection(fox.path), "a").size(), 1u);
  restart();

  // To MySQL: the server dies while the replacement's rows go in. The run stops, the copy it
  // could not remove is named, and after the restart the old table has its rows.
  std::vector<std::string> statements = {"CREATE TABLE big (n I, s C(40))"};
  for (int r = 0; r < 200000; ++r)
    statements.push_back("INSERT INTO big VALUES (" + std::to_string(r) + ", 'x')");
  Fox(fox.path, statements);
  admin("CREATE TABLE big (old INT)");
  admin("INSERT INTO big VALUES (1), (2), (3)");
  const auto mysqlBefore = MySqlRows(connectionString(), "SELECT * FROM big");
  killed = false;
  ToolRun copy =
      run({"--to-mysql", "--overwrite", "--foxpro", foxFolder(), "big"}, {}, [&](QProcess&) {
        killed = WhenRunning("%INTO %`big_qmnew`%",
                             [&](ado::Connection&, const std::string&) { killServer(); });
      });
  ASSERT_TRUE(killed);
  EXPECT_EQ(copy.exitCode, 3) << copy.out << copy.err;
  EXPECT_NE(copy.out.find("the half-filled table big_qmnew could not be removed"),
            std::string::npos)
      << copy.out;
  EXPECT_NE(copy.out.find("The MySQL table big is as it was."), std::string::npos) << copy.out;
  restart();
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT * FROM big"), mysqlBefore);
}

namespace {
// Runs the tool on a terminal of its own, as a user at a shell does, answers its password prompt
// with `answer` and returns the exit status and all the terminal showed.
ToolRun RunOnTerminal(const QString& configHome, const QStringList& args,
                      const std::string& answer) {
  std::vector<std::string> argv{QM_BINARY_DIR "/tools/quillmere-transfer"};
  for (const auto& a : args) argv.push_back(a.toStdString());
  // Everything the child needs is made before the fork: between fork and exec a child of a
  // process with threads may not allocate (another thread may have held the allocator's lock).
  std::vector<std::string> env{"XDG_CONFIG_HOME=" + configHome.toStdString()};
  for (const char* keep : {"PATH", "LANG", "HOME"})
    if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
  std::vector<char*> argp, envp;
  for (auto& a : argv) argp.push_back(a.data());
  argp.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  ToolRun r;
  if (pid < 0) return r;
  bool answered = false;
  char buf[4096];
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  for (;;) {
    pollfd p{terminal, POLLIN, 0};
    if (poll(&p, 1, 1000) == 0) {
      if (std::chrono::steady_clock::now() < until) continue;
      ADD_FAILURE() << "the tool neither asked nor ended: " << r.out;
      kill(pid, SIGKILL);
      break;
    }
    const ssize_t n = read(terminal, buf, sizeof buf);
    if (n <= 0) break;  // the tool ended: the terminal's other side is closed
    r.out.append(buf, static_cast<size_t>(n));
    if (!answered && r.out.find("Enter password: ") != std::string::npos) {
      const std::string line = answer + "\n";
      EXPECT_EQ(write(terminal, line.data(), line.size()), static_cast<ssize_t>(line.size()));
      answered = true;
    }
  }
  close(terminal);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}
}  // namespace

// The password never has to stand on the command line: a prompt, MYSQL_PWD or an option file
// give it, the command line before the file before MYSQL_PWD; --all takes every table.
TEST_F(TransferTool, ThePasswordComesFromAPromptMysqlPwdOrAnOptionFile) {
  Fox(fox.path, {"CREATE TABLE alpha (id I)", "CREATE TABLE beta (id I)"});
  passwordOnCommandLine = false;
  const QString script = foxFolder() + "/dry.sql";
  const QStringList dry = {"--to-mysql", "--foxpro", foxFolder(), "--dry-run", script, "--all"};
  const QString right = QString::fromStdString(sandbox().adminPassword);
  const auto optionFile = [&](const QString& password) {
    const QString path = foxFolder() + "/my.cnf";
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(("# for the nightly job\n[mysql]\npassword=nope\n[client]\npassword = \"" + password +
             "\"\n")
                .toUtf8());
    return "--defaults-extra-file=" + path;
  };

  EXPECT_EQ(run(dry).exitCode, 2) << "without any password the server must refuse";

  extraEnv.insert("MYSQL_PWD", right);
  ToolRun env = run(dry);
  EXPECT_EQ(env.exitCode, 0) << env.out << env.err;
  QFile written(script);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  const QByteArray text = written.readAll();
  EXPECT_TRUE(text.contains("`alpha`") && text.contains("`beta`")) << text.toStdString();

  extraEnv.insert("MYSQL_PWD", "wrong");
  EXPECT_EQ(run(dry, {optionFile(right)}).exitCode, 0) << "the option file wins over MYSQL_PWD";
  EXPECT_EQ(run(dry, {optionFile("wrong"), "-p" + right}).exitCode, 0)
      << "the command line wins over the option file";
  EXPECT_EQ(run(dry, {optionFile("wrong")}).exitCode, 2);

  ToolRun asked = RunOnTerminal(config.path(), QStringList(dry) << serverArgs() << "-p",
                                sandbox().adminPassword);
  EXPECT_EQ(asked.exitCode, 0) << asked.out;
  EXPECT_EQ(asked.out.find(sandbox().adminPassword), std::string::npos)
      << "the password was echoed: " << asked.out;
}

namespace {

std::vector<std::string> Sentences(const char* language, std::size_t n) {
  for (const auto& t : cptext::corpus())
    if (std::string(t.language) == language)
      return {t.sentences.begin(), t.sentences.begin() + std::ptrdiff_t(n)};
  return {};
}

}  // namespace

TEST_F(TransferTool, TablesThatNameNoCodePageArriveExactlyAndTheOutputNamesEachPage) {
  struct Made {
    int cp;
    const char* language;
    const char* title;
  };
  // 850 with Portuguese, whose ã and õ 437 lacks; German reads alike in 437 and 850.
  const Made made[] = {{1250, "Czech", "Windows Central European"},
                       {1251, "Russian", "Windows Cyrillic"},
                       {1252, "French", "Windows Western European"},
                       {1253, "Greek", "Windows Greek"},
                       {866, "Russian", "DOS Cyrillic"},
                       {850, "Portuguese", "DOS Western European"},
                       {437, "German", "DOS United States"}};
  QStringList args{"--to-mysql", "--foxpro", foxFolder()};
  std::map<std::string, std::vector<std::vector<std::string>>> expected;
  for (const auto& m : made) {
    const std::string name = "t" + std::to_string(m.cp);
    expected[name] = UnmarkedTable(fox.path, name, m.cp, Sentences(m.language, 3));
    args << QString::fromStdString(name);
  }
  ToolRun r = run(args);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const auto& m : made) {
    const std::string name = "t" + std::to_string(m.cp);
    EXPECT_EQ(MySqlRows(connectionString(), "SELECT t, m FROM " + name + ""), expected[name])
        << name;
    const std::string said = "Table " + name + ":\n  code page " + std::to_string(m.cp) + " (" +
                             m.title + "), judged from the text: the table's header names none";
    EXPECT_NE(r.out.find(said), std::string::npos) << said << "\n" << r.out;
  }
}

TEST_F(TransferTool, SourceCodepageWinsOverTheGuessAndAHeaderThatNamesAPageIsObeyed) {
  const auto russian = Sentences("Russian", 3);
  UnmarkedTable(fox.path, "guessed", 1251, russian);
  // Its header names 1251 (0xC9): --source-codepage is not for it.
  const auto marked = UnmarkedTable(fox.path, "marked", 1251, russian, char(0xC9));
  ToolRun r =
      run({"--to-mysql", "--source-codepage", "866", "--foxpro", foxFolder(), "guessed", "marked"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  // The 1251 bytes read as the 866 the user named.
  std::string bytes, as866;
  vfp::converterFor(1251)->fromUtf8(russian[0], bytes);
  vfp::converterFor(866)->toUtf8(bytes, as866);
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT t FROM guessed")[0][0], as866);
  EXPECT_NE(r.out.find("code page 866 (DOS Cyrillic), named by --source-codepage: the table's "
                       "header names none"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(MySqlRows(connectionString(), "SELECT t, m FROM marked"), marked);
  EXPECT_NE(r.out.find("code page 1251 (Windows Cyrillic), as the table's header names it"),
            std::string::npos)
      << r.out;

  ToolRun wrong = run({"--to-mysql", "--source-codepage", "1257", "--foxpro", foxFolder(), "x"});
  EXPECT_EQ(wrong.exitCode, 2);
  EXPECT_NE(wrong.err.find("--source-codepage 1257 is no code page FoxPro knows"),
            std::string::npos)
      << wrong.err;
}
