// The script built from real MySQL tables, command by command, without a window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "support/mysql_sandbox.h"
#include "transfer/mysql_to_foxpro.h"

using transfer::BuildFoxproScript;
using transfer::FoxproScriptHooks;

namespace {

class MySqlToFoxproScript : public qmtest::MySqlDatabaseTest {
 protected:
  void SetUp() override {
    MySqlDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    hooks.targetHas = [this](const std::string& t) {
      for (const auto& e : existing)
        if (QString::fromStdString(e).compare(QString::fromStdString(t), Qt::CaseInsensitive) == 0)
          return true;
      return false;
    };
    hooks.confirmOverwrite = [this](const std::string& t) {
      asked.push_back(t);
      bool yes = answers.empty() || answers.front();
      if (!answers.empty()) answers.erase(answers.begin());
      return yes;
    };
    hooks.renameNumericColumn = [this](const std::string& bare) {
      renamed.push_back(bare);
      return "f_" + bare;
    };
    hooks.progress = [this](long long done, long long total) {
      progress.push_back(std::to_string(done) + "/" + std::to_string(total));
    };
    hooks.tableDropped = [this](const std::string& t) { events.push_back("dropped " + t); };
    hooks.tableScripted = [this](const std::string& t) { events.push_back("scripted " + t); };
    hooks.command = [this](std::string_view c) { commands.emplace_back(c); };
  }

  transfer::FoxproScriptSummary run(const std::vector<std::string>& tables,
                                    const std::string& folder = "/tmp/fox/") {
    ado::Connection mysql;
    transfer::OpenSourceConnection(mysql, connectionString());
    return BuildFoxproScript(mysql, tables, folder, hooks);
  }

  FoxproScriptHooks hooks;
  std::vector<std::string> existing;  // the FoxPro list
  std::vector<bool> answers;          // overwrite answers in order; Yes when none left
  std::vector<std::string> asked, renamed, progress, events, commands;
};

TEST_F(MySqlToFoxproScript, WorkedExampleToTheByte) {
  admin("CREATE TABLE orders (id INT, note VARCHAR(20), pic LONGBLOB)");
  admin("INSERT INTO orders VALUES (1, 'it''s', NULL)");
  existing = {"orders"};
  auto summary = run({"orders"}, "C:\\data\\");
  EXPECT_EQ(asked, std::vector<std::string>{"orders"});
  // The new table is built apart; the old one goes once it is complete.
  EXPECT_EQ(commands,
            (std::vector<std::string>{
                "CREATE TABLE 'C:\\data\\orders_qmnew.DBF'([id] M,[note] M,[pic] BLOB)",
                "INSERT INTO [C:\\data\\orders_qmnew.DBF] VALUES('1', 'it''s', '')",
                "DROP TABLE [orders]", "RENAME TABLE [C:\\data\\orders_qmnew.DBF] TO [orders]"}));
  EXPECT_EQ(summary.commands, 4);
  EXPECT_EQ(summary.tablesScripted, 1);
  EXPECT_EQ(progress, (std::vector<std::string>{"0/1", "1/1"}));
  EXPECT_EQ(events, (std::vector<std::string>{"dropped orders", "scripted orders"}));
}

TEST_F(MySqlToFoxproScript, TablesInTheGivenOrderDeclinedOnesLeftOutEntirely) {
  admin("CREATE TABLE alpha (a INT)");
  admin("INSERT INTO alpha VALUES (1), (2)");
  admin("CREATE TABLE Beta (b INT)");
  admin("INSERT INTO Beta VALUES (3)");
  admin("CREATE TABLE gamma (c INT)");  // no rows
  existing = {"beta", "GAMMA"};         // differ from the MySQL names only in letter case
  answers = {true, false};              // gamma Yes, Beta No
  auto summary = run({"gamma", "Beta", "alpha"});
  EXPECT_EQ(asked, (std::vector<std::string>{"gamma", "Beta"}));
  EXPECT_EQ(commands, (std::vector<std::string>{
                          "CREATE TABLE '/tmp/fox/gamma_qmnew.DBF'([c] M)", "DROP TABLE [gamma]",
                          "RENAME TABLE [/tmp/fox/gamma_qmnew.DBF] TO [gamma]",
                          "CREATE TABLE '/tmp/fox/alpha.DBF'([a] M)",
                          "INSERT INTO [/tmp/fox/alpha.DBF] VALUES('1')",
                          "INSERT INTO [/tmp/fox/alpha.DBF] VALUES('2')"}));
  EXPECT_EQ(summary.tablesScripted, 2);
  EXPECT_EQ(summary.tablesDeclined, 1);
  EXPECT_EQ(progress, (std::vector<std::string>{"0/0", "0/2", "1/2", "2/2"}));
  EXPECT_EQ(events,
            (std::vector<std::string>{"dropped gamma", "scripted gamma", "scripted alpha"}));
}

TEST_F(MySqlToFoxproScript, ColumnNamesFoxproCanTake) {
  admin("CREATE TABLE `odd``name` (`order date` INT, `in/out` INT, `2021` INT, `1.5` INT, x2 INT)");
  run({"odd`name"});
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0],
            "CREATE TABLE '/tmp/fox/odd`name.DBF'([order_date] M,[in_out] M,[f_2021] M,[f_1_5] "
            "M,[x2] M)");
  EXPECT_EQ(renamed, (std::vector<std::string>{"2021", "1.5"}));
}

TEST_F(MySqlToFoxproScript, ValuesOfEveryColumnTypeAsTheirTextForm) {
  admin(
      "CREATE TABLE t (ti TINYINT, si SMALLINT UNSIGNED, mi MEDIUMINT, i INT, bi BIGINT, "
      "de DECIMAL(12,3), fl FLOAT, db DOUBLE, b1 BIT(1), b9 BIT(9), d DATE, tm TIME, "
      "dt DATETIME(6), ts TIMESTAMP NULL, y YEAR, c CHAR(3), e ENUM('x','y'), st SET('p','q'), "
      "vc VARCHAR(10), tx TEXT, js JSON, bn BINARY(2), vb VARBINARY(4), bl BLOB)");
  admin(
      "INSERT INTO t VALUES (-5, 65535, 7, -2147483648, 9223372036854775807, -12.500, 1.5, "
      "0.1, b'1', b'100000001', '2021-08-31', '-838:59:59', '2021-08-31 23:59:58.000001', "
      "'2000-01-02 03:04:05', 2021, 'ab', 'y', 'p,q', '', 'x''+''y', '{\"k\": 1}', 0x00FF, "
      "0x1A, 0xDEADBEEF)");
  run({"t"});
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0],
            "CREATE TABLE '/tmp/fox/t.DBF'([ti] M,[si] M,[mi] M,[i] M,[bi] M,[de] M,[fl] M,[db] "
            "M,[b1] M,[b9] BLOB,[d] M,[tm] M,[dt] M,[ts] M,[y] M,[c] M,[e] M,[st] M,[vc] M,[tx] "
            "M,[js] M,[bn] BLOB,[vb] BLOB,[bl] BLOB)");
  EXPECT_EQ(commands[1],
            "INSERT INTO [/tmp/fox/t.DBF] VALUES('-5', '65535', '7', '-2147483648', "
            "'9223372036854775807', '-12.500', '1.5', '0.1', '1', 0h0101, '2021-08-31', "
            "'-838:59:59', '2021-08-31 23:59:58.000001', '2000-01-02 03:04:05', '2021', 'ab', "
            "'y', 'p,q', '', 'x''+''y', '{\"k\": 1}', 0h00FF, 0h1A, 0hDEADBEEF)");
}

TEST_F(MySqlToFoxproScript, AnUnreadableTableIsLeftOutWithItsReasonAndTheOthersGo) {
  admin("CREATE TABLE here (a INT)");
  auto summary = run({"missing", "here"});
  EXPECT_EQ(summary.tablesLeftOut, 1);
  EXPECT_EQ(summary.tablesScripted, 1);
  EXPECT_NE(summary.report.find("Table missing:\n  left out of the script: it cannot be read"),
            std::string::npos)
      << summary.report;
  EXPECT_NE(summary.report.find("doesn't exist"), std::string::npos) << summary.report;
  EXPECT_EQ(commands, std::vector<std::string>{"CREATE TABLE '/tmp/fox/here.DBF'([a] M)"});
}

TEST(FoxproTargetFolder, ContainerFolderOrFreeTableFolderWithASeparator) {
  platform::ConnectionFields f;
  f.useDbcFile = true;
  f.dbcFile = "C:\\data\\sales.dbc";
  EXPECT_EQ(transfer::FoxproTargetFolder(f), "C:\\data\\");
  f.dbcFile = "/home/u/db/sales.dbc";
  EXPECT_EQ(transfer::FoxproTargetFolder(f), "/home/u/db/");
  f.useDbcFile = false;
  f.freeTableFolder = "C:\\data";
  EXPECT_EQ(transfer::FoxproTargetFolder(f), "C:\\data\\");
  f.freeTableFolder = "/srv/fox";
  EXPECT_EQ(transfer::FoxproTargetFolder(f), "/srv/fox/");
  f.freeTableFolder = "/srv/fox/";
  EXPECT_EQ(transfer::FoxproTargetFolder(f), "/srv/fox/");
  f.freeTableFolder = "";
  EXPECT_EQ(transfer::FoxproTargetFolder(f), "");  // never the file system's root
}

}  // namespace
