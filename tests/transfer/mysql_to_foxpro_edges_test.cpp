// MySQL tables with names and values FoxPro does not take as they are, sent into a FoxPro folder:
// the script runs to the end, the report lists every change before it runs, and what arrives is
// what the report announced.
#include <gtest/gtest.h>

#include <QString>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foxpro_to_mysql_support.h"
#include "ado/dataaccess.h"
#include "support/mysql_sandbox.h"
#include "transfer/foxpro_names.h"
#include "transfer/mysql_to_foxpro.h"

using namespace tomysql_test;

namespace {

class MySqlToFoxproEdges : public qmtest::MySqlDatabaseTest {
 protected:
  // Builds the script for `tables` into the folder and runs it there, line by line.
  transfer::FoxproScriptSummary Send(const std::vector<std::string>& tables,
                                     const transfer::FoxproTarget& target) {
    transfer::FoxproScriptHooks hooks;
    hooks.targetHas = [](const std::string&) { return false; };
    hooks.confirmOverwrite = [](const std::string&) { return true; };
    hooks.renameNumericColumn = [this](const std::string& bare) {
      asked.push_back(bare);
      return "n" + bare;
    };
    hooks.progress = [](long long, long long) {};
    hooks.tableDropped = [](const std::string&) {};
    hooks.tableScripted = [](const std::string&) {};
    hooks.command = [this](std::string_view c) { commands.emplace_back(c); };
    hooks.report = [this](const std::string& r) { report = r; };
    ado::Connection mysql;
    transfer::OpenSourceConnection(mysql, connectionString());
    auto summary = transfer::BuildFoxproScript(mysql, tables, target, hooks);
    ado::Connection fox;
    fox.open(FolderConnection(target.folder));
    for (const auto& c : commands) fox.execute(c);
    fox.close();
    return summary;
  }
  bool Reports(const std::string& text) const { return report.find(text) != std::string::npos; }

  std::vector<std::string> commands, asked;
  std::string report;
};

TEST_F(MySqlToFoxproEdges, TortureTableArrivesAsTheReportSays) {
  admin(
      "CREATE TABLE `o'brien]x` (`e-mail` VARCHAR(40), `1st` INT, `a.b` INT, `price$` "
      "DECIMAL(65,30), customer_name VARCHAR(9), customer_note VARCHAR(9), txt TEXT, d DOUBLE, "
      "f FLOAT, u BIGINT UNSIGNED, t TIME, z DATE, `2021` INT) DEFAULT CHARSET=utf8mb4");
  admin(
      "INSERT INTO `o'brien]x` VALUES ('a@b.c', 1, 2, "
      "'12345678901234567890123456789012345.123456789012345678901234567891', 'ann', 'vip', "
      "'Привет мир', 1e20, 3.4e38, 18446744073709551615, '-838:59:59', '0000-00-00', 7), "
      "(NULL, NULL, 3, NULL, NULL, NULL, 'plain', 1e-5, -1.5, 0, '00:00:01', '2024-02-29', 8)");
  std::string wide = "CREATE TABLE wide300 (c0 INT";
  for (int i = 1; i < 300; ++i) wide += ", c" + std::to_string(i) + " INT";
  admin(wide + ")");
  TempFolder dir;
  transfer::FoxproTarget target;
  target.folder = dir.path + "/";
  auto summary = Send({"wide300", "o'brien]x", "missing"}, target);

  EXPECT_EQ(summary.tablesScripted, 1);
  EXPECT_EQ(summary.tablesLeftOut, 2);
  EXPECT_TRUE(Reports("Table wide300:\n  left out of the script: it has 300 columns")) << report;
  EXPECT_TRUE(Reports("Table missing:\n  left out of the script: it cannot be read")) << report;
  EXPECT_TRUE(Reports("column e-mail -> e_mail (FoxPro takes no \"-\" in a field name)")) << report;
  EXPECT_TRUE(Reports("column 1st -> _1st (a field name cannot begin with a digit)")) << report;
  EXPECT_TRUE(Reports("column a.b -> a_b")) << report;
  EXPECT_TRUE(Reports("column price$ -> price_")) << report;
  EXPECT_TRUE(
      Reports("column customer_name -> customer_n (a free table's field names have at "
              "most 10 characters)"))
      << report;
  EXPECT_TRUE(
      Reports("column customer_note -> customer_2 (a free table's field names have at "
              "most 10 characters; another column already has that name in FoxPro)"))
      << report;
  EXPECT_TRUE(Reports("column 2021 -> n2021 (the name reads as a number; renamed as asked)"))
      << report;
  EXPECT_TRUE(
      Reports("column txt: 9 characters code page 1252 cannot hold are written as \"?\" "
              "(first in \"Привет мир\")"))
      << report;
  EXPECT_TRUE(Reports("column e_mail: 1 NULLs are written as empty text")) << report;
  EXPECT_TRUE(Reports("column customer_2: 1 NULLs")) << report;
  EXPECT_EQ(asked, std::vector<std::string>{"2021"});

  // What arrived is what the report said: names as listed, "?" for the Cyrillic letters, ''
  // for NULL, every other value exactly as the server prints it.
  std::vector<std::string> columns;
  auto rows = FoxRows(FolderConnection(dir.path), "o'brien]x");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{
                         "a@b.c", "1", "2",
                         "12345678901234567890123456789012345.123456789012345678901234567891",
                         "ann", "vip", "?????? ???", "1e20", "3.4e38", "18446744073709551615",
                         "-838:59:59", "0000-00-00", "7"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"", "", "3", "", "", "", "plain", "0.00001", "-1.5",
                                               "0", "00:00:01", "2024-02-29", "8"}));
  ado::Connection fox;
  fox.open(FolderConnection(dir.path));
  ado::RecordSet rs;
  rs.open("SELECT * FROM \"o'brien]x\"", fox);
  for (int k = 0; k < rs.fieldCount(); ++k) columns.push_back(rs.field(k).name);
  EXPECT_EQ(columns,
            (std::vector<std::string>{"e_mail", "_1st", "a_b", "price_", "customer_n", "customer_2",
                                      "txt", "d", "f", "u", "t", "z", "n2021"}));
}

TEST_F(MySqlToFoxproEdges, TableNamesWithQuotesBracketsAndSeparatorsStayInTheFolder) {
  admin("CREATE TABLE `o'brien` (a INT)");
  admin("INSERT INTO `o'brien` VALUES (1)");
  admin("CREATE TABLE `a]b` (a INT)");
  admin("INSERT INTO `a]b` VALUES (2)");
  admin("CREATE TABLE `../../evil` (a INT)");
  admin("INSERT INTO `../../evil` VALUES (3)");
  TempFolder outer;
  const std::string inner = outer.path + "/x/y";
  std::filesystem::create_directories(inner);
  transfer::FoxproTarget target;
  target.folder = inner + "/";
  auto summary = Send({"o'brien", "a]b", "../../evil"}, target);
  EXPECT_EQ(summary.tablesScripted, 3);
  EXPECT_EQ(FoxRows(FolderConnection(inner), "o'brien"),
            (std::vector<std::vector<std::string>>{{"1"}}));
  EXPECT_EQ(FoxRows(FolderConnection(inner), "a]b"),
            (std::vector<std::vector<std::string>>{{"2"}}));
  EXPECT_EQ(FoxRows(FolderConnection(inner), "___.._evil"),
            (std::vector<std::vector<std::string>>{{"3"}}));
  EXPECT_TRUE(
      Reports("Table ../../evil:\n  file ___.._evil.DBF ('/' cannot be part of a file name)"))
      << report;
  // Nothing was written beside or above the target folder.
  std::vector<std::string> outside;
  for (const auto& e : std::filesystem::recursive_directory_iterator(outer.path))
    if (e.is_regular_file() && e.path().parent_path() != inner) outside.push_back(e.path());
  EXPECT_TRUE(outside.empty()) << outside.front();
}

TEST_F(MySqlToFoxproEdges, NewTablesTakeTheCodePageOfTheTablesThere) {
  admin("CREATE TABLE ru (s VARCHAR(20)) DEFAULT CHARSET=utf8mb4");
  admin("INSERT INTO ru VALUES ('Съешь же ещё'), (NULL)");
  TempFolder dir;
  Fox(dir.path, {"CREATE TABLE old1 CODEPAGE = 1251 (a C(1))",
                 "CREATE TABLE old2 CODEPAGE = 1251 (a C(1))", "CREATE TABLE old3 (a C(1))"});
  platform::ConnectionFields fields;
  fields.useDbcFile = false;
  fields.freeTableFolder = QString::fromStdString(dir.path);
  auto target = transfer::ChooseFoxproTarget(fields, "en_US.UTF-8");
  EXPECT_EQ(target.codePage, 1251);
  Send({"ru"}, target);
  EXPECT_EQ(FoxRows(FolderConnection(dir.path), "ru"),
            (std::vector<std::vector<std::string>>{{"Съешь же ещё"}, {""}}));
  EXPECT_TRUE(Reports("New FoxPro tables get code page 1251")) << report;
  EXPECT_FALSE(Reports("cannot hold")) << report;
  EXPECT_TRUE(Reports("column s: 1 NULLs are written as empty text")) << report;

  // Without tables to go by, the user's language decides, else 1252.
  TempFolder empty;
  fields.freeTableFolder = QString::fromStdString(empty.path);
  EXPECT_EQ(transfer::ChooseFoxproTarget(fields, "el_GR.UTF-8").codePage, 1253);
  EXPECT_EQ(transfer::ChooseFoxproTarget(fields, "C").codePage, 1252);
}

TEST(FoxproTargetCodePage, TheContainersOwnMarkDecidesOverItsTables) {
  TempFolder dir;
  for (const auto& e :
       std::filesystem::directory_iterator(QM_FIXTURES_DIR "/VFPX__Samples/Northwind"))
    std::filesystem::copy_file(e.path(), dir.path + "/" + e.path().filename().string());
  const std::string dbc = dir.path + "/northwind.dbc";
  platform::ConnectionFields fields;
  fields.useDbcFile = true;
  fields.dbcFile = QString::fromStdString(dbc);
  auto target = transfer::ChooseFoxproTarget(fields, "ru_RU.UTF-8");
  EXPECT_EQ(target.codePage, 1252);  // the container and its tables are 1252
  EXPECT_TRUE(target.container);
  // A container marked 1251 (0xC9) makes 1251 tables, whatever its older tables carry.
  {
    std::fstream f(dbc, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(29);
    f.put(char(0xC9));
  }
  target = transfer::ChooseFoxproTarget(fields, "en_US.UTF-8");
  EXPECT_EQ(target.codePage, 1251);
  EXPECT_EQ(target.codePageReason, "the one the database and its tables carry");
}

TEST_F(MySqlToFoxproEdges, AnOrdinaryTableSaysNothingChanges) {
  admin("CREATE TABLE plain (a INT, b VARCHAR(5))");
  admin("INSERT INTO plain VALUES (1, 'x')");
  TempFolder dir;
  transfer::FoxproTarget target;
  target.folder = dir.path + "/";
  Send({"plain"}, target);
  EXPECT_EQ(report,
            "New FoxPro tables get code page 1252.\n" + std::string(transfer::kNothingChanges));
}

TEST(FoxproNames, ContainersKeepLongNamesAndStillMakeThemUnique) {
  auto names = FoxproNames::FieldNames(
      {"customer_name", "Customer_Name", "x y", std::string(130, 'a')}, false, 1252);
  EXPECT_EQ(names[0].name, "customer_name");
  EXPECT_EQ(names[0].why, "");
  EXPECT_EQ(names[1].name, "Customer_Name_2");
  EXPECT_EQ(names[2].name, "x_y");
  EXPECT_EQ(names[3].name, std::string(128, 'a'));
  // Letters outside ASCII stay when the code page holds them.
  auto cyr = FoxproNames::FieldNames({"имя", "café"}, true, 1251);
  EXPECT_EQ(cyr[0].name, "имя");
  EXPECT_EQ(cyr[1].name, "caf_");
  EXPECT_EQ(FoxproNames::Delimited("a]b", '['), "'a]b'");
  EXPECT_EQ(FoxproNames::Delimited("o'b", '\''), "[o'b]");
  EXPECT_EQ(FoxproNames::Delimited("]'\"`"), std::nullopt);
  EXPECT_EQ(FoxproNames::TableFileStem("..").name, "__");  // a file, not the parent folder
  EXPECT_EQ(FoxproNames::TableFileStem("a\\b:c").name, "a_b_c");
}

}  // namespace

TEST_F(MySqlToFoxproEdges, NewTablesBesideTablesThatNameNoCodePageTakeTheOneTheirTextIsIn) {
  admin("CREATE TABLE ru (s VARCHAR(40)) DEFAULT CHARSET=utf8mb4");
  admin("INSERT INTO ru VALUES ('Съешь же ещё')");
  TempFolder dir;
  UnmarkedTable(dir.path, "old1", 866,
                {"Заказ будет отправлен на следующей неделе.", "Просим оплатить счёт."});
  UnmarkedTable(dir.path, "old2", 866, {"Дети играли во дворе до самого вечера."});
  platform::ConnectionFields fields;
  fields.useDbcFile = false;
  fields.freeTableFolder = QString::fromStdString(dir.path);
  // A code page the user named for such tables wins over the guess.
  fields.foxproCodePage = "1251";
  auto named = transfer::ChooseFoxproTarget(fields, "en_US.UTF-8");
  EXPECT_EQ(named.codePage, 1251);
  EXPECT_EQ(named.codePageReason,
            "the one named for the folder's tables, whose headers name none (setting "
            "FoxproCodePage)");

  fields.foxproCodePage.clear();
  auto target = transfer::ChooseFoxproTarget(fields, "en_US.UTF-8");
  EXPECT_EQ(target.codePage, 866);
  Send({"ru"}, target);
  EXPECT_EQ(FoxRows(FolderConnection(dir.path), "ru"),
            (std::vector<std::vector<std::string>>{{"Съешь же ещё"}}));
  EXPECT_TRUE(
      Reports("New FoxPro tables get code page 866 (judged from the text of the "
              "folder's tables, whose headers name none)"))
      << report;
}
