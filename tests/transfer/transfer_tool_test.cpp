// quillmere-transfer, the command-line tool, run as a user's nightly job would run it: a table
// goes each way and arrives equal, a dry run writes the preview's script and changes nothing,
// and the exit status tells what happened.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <thread>

#include "foxpro_to_mysql_support.h"
#include "support/mute_server.h"
#include "support/mysql_sandbox.h"
#include "transfer/foxpro_to_mysql.h"

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

  // `after` comes last, so it may replace the sandbox's settings; whileRunning is called once
  // the tool has started.
  ToolRun run(QStringList args, const QStringList& after = {},
              const std::function<void()>& whileRunning = {}) {
    args << "--mysql-server" << QString::fromStdString(sandbox().host) << "--mysql-port"
         << QString::fromStdString(sandbox().port) << "--mysql-user"
         << QString::fromStdString(sandbox().adminUser) << "--mysql-password"
         << QString::fromStdString(sandbox().adminPassword) << "--mysql-database"
         << QString::fromStdString(database()) << after;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QM_BINARY_DIR "/tools/quillmere-transfer"), args);
    if (whileRunning && p.waitForStarted()) whileRunning();
    EXPECT_TRUE(p.waitForFinished(120000)) << p.errorString().toStdString();
    ToolRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
  }
  QString foxFolder() const { return QString::fromStdString(fox.path); }

  // Ends, from an administrator's session, the connection that runs `statement` once the server
  // shows it; false when it never does within a minute.
  bool KillConnectionRunning(const std::string& statement) {
    ado::Connection watch;
    watch.open(connectionString());
    for (auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
         std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
      ado::RecordSet rs(watch.execute(
          "SELECT ID FROM information_schema.PROCESSLIST WHERE INFO = '" + statement + "'"));
      if (rs.eof()) continue;
      const std::string id = rs.value(0).toText();
      rs.close();
      watch.execute("KILL CONNECTION " + id);
      return true;
    }
    return false;
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
                  [&] { killed = KillConnectionRunning("SELECT * FROM `w`"); });
  ASSERT_TRUE(killed);
  // a arrived, w did not: not everything arrived, and the output says why.
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("Table w:\n  left out of the script: reading stopped after "),
            std::string::npos)
      << r.out;
  EXPECT_EQ(FoxRows(FolderConnection(fox.path), "w"), before);
  EXPECT_EQ(FoxRows(FolderConnection(fox.path), "a").size(), 1u);
}
