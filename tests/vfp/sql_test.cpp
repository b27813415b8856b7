// The FoxPro SQL the transfers generate, and what users type into the preview: name forms,
// replacing tables, dropping them, and FoxPro's own wording for what goes wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support.h"
#include "vfp/session.h"
#include "vfp/error.h"

using namespace vfptest;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::vector<std::string>> selectAll(vfp::Session& s, const std::string& sql) {
  auto r = s.execute(sql);
  std::vector<std::vector<std::string>> rows;
  while (r->next()) {
    rows.emplace_back();
    for (std::size_t i = 0; i < r->fieldCount(); ++i)
      rows.back().push_back(r->value(i).isNull() ? "<null>" : r->value(i).s);
  }
  EXPECT_EQ(rows.size(), r->rowCount());
  return rows;
}

}  // namespace

TEST(Sql, TheTransferScriptRunsWithEveryNameForm) {
  TempFolder dir;
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  std::string target = dir.file("Orders.DBF");
  std::string longText(200, 'x');
  // The script a MySQL-to-FoxPro transfer writes for a table already present.
  s.execute("CREATE TABLE '" + target + "'([id] M,[note] M,[pic] BLOB)");
  s.execute("DROP TABLE [orders]");
  s.execute("CREATE TABLE '" + target + "'([id] M,[note] M,[pic] BLOB)");
  s.execute("INSERT INTO [" + target + "] VALUES('1', 'it''s', '')");
  s.execute("INSERT INTO [" + target + "] VALUES('2', '" + longText + "'+'', 0h00FF)");
  s.execute("INSERT INTO [" + target + "] VALUES('3', 'a'+CHR(13)+CHR(10)+'b', '')");
  auto rows = selectAll(s, "SELECT * FROM \"orders\"");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "it's", ""}));
  EXPECT_EQ(rows[1][1], longText);
  EXPECT_EQ(rows[1][2], std::string("\x00\xFF", 2));
  EXPECT_EQ(rows[2][1], "a\r\nb");
  EXPECT_EQ(filesIn(dir.path), (std::vector<std::string>{"Orders.DBF", "Orders.FPT"}));
  // Other forms a user may type.
  EXPECT_EQ(selectAll(s, "select * from ORDERS;").size(), 3u);
  EXPECT_EQ(selectAll(s, "SELECT * FROM [Orders.dbf]").size(), 3u);
  EXPECT_EQ(selectAll(s, "SELECT * FROM 'orders'").size(), 3u);
  s.execute("DROP TABLE `orders`");
  EXPECT_TRUE(filesIn(dir.path).empty());
  s.execute("CREATE TABLE plain (a C(3))");
  s.execute("DROP TABLE \"plain\"");
  s.execute("CREATE TABLE plain (a C(3))");
  s.execute("DROP TABLE 'plain'");
  s.execute("CREATE TABLE plain (a C(3))");
  s.execute("DROP TABLE plain");
  EXPECT_TRUE(filesIn(dir.path).empty());
}

TEST(Sql, CreateReplacesATableAndItsCompanionsInAnyLetterCase) {
  TempFolder dir;
  {  // closed before the files are renamed: Windows renames no file a program writes
    vfp::Session first(std::make_shared<vfp::FolderCatalog>(dir.path));
    first.execute("CREATE TABLE notes (m M)");
    first.execute("INSERT INTO notes VALUES('kept?')");
  }
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  fs::copy_file(dir.file("notes.dbf"), dir.file("stray.txt"));  // an unrelated file stays
  fs::rename(dir.file("notes.fpt"), dir.file("NOTES.FPT"));
  fs::copy_file(dir.file("stray.txt"), dir.file("Notes.CDX"));
  s.execute("CREATE TABLE 'NOTES.DBF'(n N(3))");
  EXPECT_EQ(filesIn(dir.path), (std::vector<std::string>{"notes.dbf", "stray.txt"}));
  EXPECT_TRUE(selectAll(s, "SELECT * FROM notes").empty());
}

TEST(Sql, RenameTableMovesATableWithItsMemoAndIndexOrRefusesWithoutMovingAnything) {
  TempFolder dir;
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  s.execute("CREATE TABLE 'orders_new.DBF' (m M)");
  s.execute("CREATE TABLE other (a C(1))");
  s.flush();
  fs::copy_file(dir.file("other.dbf"), dir.file("orders_new.CDX"));  // an index beside it
  s.execute("INSERT INTO orders_new VALUES('memo text')");           // queued, not yet written
  const auto before = filesIn(dir.path);
  EXPECT_EQ(errorOf(s, "RENAME TABLE orders_new TO OTHER"), "File 'other.dbf' already exists.");
  EXPECT_EQ(errorOf(s, "RENAME orders_new TO x"),
            "This RENAME is not supported: the FoxPro engine runs RENAME TABLE.");
  EXPECT_EQ(errorOf(s, "RENAME TABLE orders_new TO 'a/b'"),
            "RENAME TABLE names the table anew in its own folder; 'a/b' is a path.");
  EXPECT_EQ(errorOf(s, "RENAME TABLE missing TO x"), "File 'missing.dbf' does not exist.");
  EXPECT_EQ(filesIn(dir.path), before);
  s.execute("RENAME TABLE [" + dir.file("orders_new.DBF") + "] TO orders");
  EXPECT_EQ(filesIn(dir.path),
            (std::vector<std::string>{"orders.CDX", "orders.DBF", "orders.FPT", "other.dbf"}));
  EXPECT_EQ(selectAll(s, "SELECT * FROM orders"),
            (std::vector<std::vector<std::string>>{{"memo text"}}));
}

TEST(Sql, MembersOfAContainerAreNeitherDroppedNorReplacedAsFreeTables) {
  TempFolder dir;
  copyFixtureFolder(fixture("infused__dbf/spec/fixtures/foxprodb/calls.dbf"), dir.path);
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  EXPECT_THROW(s.execute("DROP TABLE calls"), vfp::Error);
  EXPECT_THROW(s.execute("CREATE TABLE calls (x C(1))"), vfp::Error);
  EXPECT_TRUE(fs::exists(dir.file("calls.dbf")));
  EXPECT_TRUE(fs::exists(dir.file("calls.FPT")));
  EXPECT_EQ(vfp::Table(dir.file("calls.dbf")).countLiveRecords(), 16u);
}

TEST(Sql, ErrorsReadLikeFoxPros) {
  TempFolder dir;
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  EXPECT_EQ(errorOf(s, "DROP TABLE [orders]"), "File 'orders.dbf' does not exist.");
  EXPECT_EQ(errorOf(s, "SELECT * FROM \"Orders\""), "File 'orders.dbf' does not exist.");
  EXPECT_EQ(errorOf(s, "INSERT INTO [" + dir.file("x.DBF") + "] VALUES('1')"),
            "File 'x.DBF' does not exist.");
  EXPECT_EQ(errorOf(s, "CREATE TABLE t (a C(5)"), "Syntax error.");
#ifdef _WIN32
  EXPECT_EQ(errorOf(s, "CREATE TABLE 'C:\\data\\x.DBF'(a M)"),
            "Invalid path or file name: folder 'C:\\data' does not exist.");
#else
  // A drive letter names nothing here.
  EXPECT_EQ(errorOf(s, "CREATE TABLE 'C:\\data\\x.DBF'(a M)"),
            "Invalid path or file name: 'C:\\data\\x.DBF'.");
#endif
  EXPECT_NE(errorOf(s, "CREATE TABLE 'no/such/x.DBF'(a M)").find("Invalid path or file name"),
            std::string::npos);
  fs::create_directory(dir.file("sub"));
  s.execute("CREATE TABLE 'sub\\inner.dbf'(a M)");  // a backslash separates folders as well
  EXPECT_TRUE(fs::exists(dir.file("sub/inner.dbf")));
  EXPECT_EQ(errorOf(s, "hello world"), "Unrecognized command verb.");
  s.execute("CREATE TABLE t (a C(5), b N(3))");
  EXPECT_NE(errorOf(s, "SELECT a FROM t").find("not supported"), std::string::npos);
  EXPECT_EQ(errorOf(s, "UPDATE t SET z = 'x'"), "SQL: Column 'Z' is not found.");
  EXPECT_NE(errorOf(s, "DELETE FROM t WHERE a = 1").find("cannot compare"), std::string::npos);
  EXPECT_NE(errorOf(s, "CREATE TABLE u (a Z)").find("not supported"), std::string::npos);
  EXPECT_NE(errorOf(s, "CREATE TABLE u (a C(5) CHECK a > 'a')").find("only NULL"),
            std::string::npos);
  EXPECT_NE(errorOf(s, "CREATE TABLE u (a C(5) DEFAULT 'x')").find("free table"),
            std::string::npos);
  EXPECT_EQ(errorOf(s, "CREATE TABLE u (a C(5), A M)"), "Field name 'A' is duplicated.");
  EXPECT_EQ(errorOf(s, "INSERT INTO t VALUES('a', 1, 2)"),
            "Field count and value count do not match.");
  EXPECT_EQ(errorOf(s, "INSERT INTO t VALUES(1, 1)"),
            "Data type mismatch (field A) in table 't.dbf'.");
  EXPECT_EQ(errorOf(s, "INSERT INTO t VALUES(NULL, 1)"),
            "Field A does not accept null values in table 't.dbf'.");
  EXPECT_EQ(errorOf(s, "INSERT INTO t VALUES('a', 1000)"),
            "Numeric overflow. Data was lost (field B) in table 't.dbf'.");
  EXPECT_EQ(errorOf(s, "INSERT INTO t VALUES({^2021-02-30}, 1)"),
            "Date/Datetime evaluated to an invalid value.");
  // A failed statement leaves the table as it was.
  EXPECT_TRUE(selectAll(s, "SELECT * FROM t").empty());
}

TEST(Sql, InsertedRowsAreSeenAtOnceAndFieldsKeepTheirOrder) {
  TempFolder dir;
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  s.execute("CREATE TABLE seq (customer_contact_name C(20), customer_contact_city C(20), n I)");
  for (int i = 0; i < 1000; ++i)
    s.execute("INSERT INTO seq VALUES('name" + std::to_string(i) + "', 'city', " +
              std::to_string(i) + ")");
  auto r = s.execute("SELECT * FROM seq");
  ASSERT_EQ(r->rowCount(), 1000u);
  EXPECT_EQ(r->fieldName(0), "CUSTOMER_C");
  EXPECT_EQ(r->fieldName(1), "CUSTOMER_2");
  int expected = 0;
  while (r->next()) EXPECT_EQ(r->value(2).i, expected++);
  EXPECT_EQ(expected, 1000);
}

TEST(Sql, FolderCatalogListsEveryTableWhateverItsLetterCase) {
  TempFolder dir;
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  s.execute("CREATE TABLE 'a.DBF'(x C(1))");
  s.execute("CREATE TABLE B (x C(1))");
  fs::create_directory(dir.file("sub.dbf"));  // a folder with a table's name is no table
  std::vector<std::string> names;
  for (const auto& e : s.catalog().tables()) {
    EXPECT_EQ(e.type, "TABLE");
    names.push_back(e.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"B", "a"}));
}

TEST(Sql, ContainerSourcesListTheirMemberTables) {
  auto cat = vfp::openCatalog(fixture("VFPX__Samples/Northwind/northwind.dbc"));
  auto tables = cat->tables();
  // Listed from the container itself: 13 tables and 17 views, by their long names.
  EXPECT_EQ(std::count_if(tables.begin(), tables.end(), [](auto& e) { return e.type == "TABLE"; }),
            13);
  EXPECT_EQ(std::count_if(tables.begin(), tables.end(), [](auto& e) { return e.type == "VIEW"; }),
            17);
  vfp::Session s(cat);
  auto r = s.execute("SELECT * FROM \"categories\"");
  EXPECT_EQ(r->rowCount(), 8u);  // nine records, one deleted
  EXPECT_THROW(vfp::openCatalog(fixture("VFPX__Samples/Northwind/categories.dbf")), vfp::Error);
  EXPECT_THROW(vfp::openCatalog(fixture("VFPX__Samples/Northwind/nothere.dbc")), vfp::Error);
}
