// The FoxPro backend as the program uses it: connection strings for a folder and a container,
// the tables schema, record sets with the type codes and values the transfers choose columns by,
// exact counts, FoxPro's messages, and the count of characters the code page could not hold.
#include <gtest/gtest.h>

#include <filesystem>

#include "ado/dataaccess.h"

namespace fs = std::filesystem;
using namespace ado;

namespace {

struct TempFolder {
  std::string path;
  TempFolder() {
    std::string tmpl = (fs::temp_directory_path() / "foxbackend-XXXXXX").string();
    path = mkdtemp(tmpl.data());
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

std::string folderConnection(const std::string& folder) {
  return "Provider=vfpoledb.1;Data Source=" + folder + ";Collating Sequence=general;";
}

std::string messageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const DataAccessError& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace

TEST(FoxProBackend, RecordSetsCarryTheTypeCodesAndValuesOfEveryFieldType) {
  TempFolder dir;
  Connection c;
  c.setCursorLocation(adUseClient);
  c.open(folderConnection(dir.path));
  EXPECT_EQ(
      c.execute(
          "CREATE TABLE every (c C(5) NULL, cb C(2) NOCPTRANS, v V(8), vb V(4) NOCPTRANS, m M, "
          "mb M NOCPTRANS, n N(12,3), f F(6,1), i I, b B, y Y, d D, t T, l L, g G, w W, q Q(3))"),
      nullptr);
  c.execute(
      "INSERT INTO every VALUES('abc', 0h0102, 'var', 0hFF, 'memo', 0h00, '-12.500', '1.5', 42, "
      "2.25, "
      "'3.14159', {^2021-08-31}, {^2021-08-31 10:20:30}, .T., 0h01, 0h0203, 0h0A0B)");
  c.execute(
      "INSERT INTO every VALUES(NULL, 0h, '', 0h, '', 0h, '', '', 0, 0, 0, {}, {}, .F., 0h, 0h, "
      "0h)");
  RecordSet rs;
  rs.open("SELECT * FROM \"every\"", c, adOpenStatic, adLockOptimistic);
  ASSERT_EQ(rs.recordCount(), 2);
  const int codes[] = {adChar,          adBinary,   adVarChar,     adVarBinary, adLongVarChar,
                       adLongVarBinary, adNumeric,  adNumeric,     adInteger,   adDouble,
                       adCurrency,      adDBDate,   adDBTimeStamp, adBoolean,   adLongVarBinary,
                       adLongVarBinary, adVarBinary};
  ASSERT_EQ(rs.fieldCount(), int(std::size(codes)));
  for (int i = 0; i < rs.fieldCount(); ++i)
    EXPECT_EQ(rs.field(i).type, codes[i]) << rs.field(i).name;
  EXPECT_EQ(rs.field(6).precision, 12);
  EXPECT_EQ(rs.field(6).scale, 3);
  EXPECT_EQ(rs.field(0).name, "c");  // handed out in lower case, as the provider does
  EXPECT_EQ(rs.value("c").asString(), "abc");
  EXPECT_EQ(rs.value("cb").asString(), std::string("\x01\x02", 2));
  EXPECT_EQ(rs.value("v").asString(), "var");
  EXPECT_EQ(rs.value("m").kind(), Value::Kind::Text);
  EXPECT_EQ(rs.value("n").asString(), "-12.500");
  EXPECT_EQ(rs.value("n").kind(), Value::Kind::Decimal);
  EXPECT_EQ(rs.value("i").asInt(), 42);
  EXPECT_EQ(rs.value("b").asDouble(), 2.25);
  EXPECT_EQ(rs.value("y").asString(), "3.1416");
  EXPECT_EQ(rs.value("d").asDate(), (Date{2021, 8, 31}));
  EXPECT_EQ(rs.value("t").asDateTime(), (DateTime{{2021, 8, 31}, {false, 10, 20, 30, 0}}));
  EXPECT_TRUE(rs.value("l").asBool());
  EXPECT_EQ(rs.value("w").asString(), "\x02\x03");
  rs.moveNext();
  EXPECT_TRUE(rs.value("c").isNull());
  EXPECT_TRUE(rs.value("d").isNull());  // an empty date is null
  EXPECT_TRUE(rs.value("t").isNull());
  EXPECT_TRUE(rs.value("n").isNull());  // a blank number holds no value
  EXPECT_EQ(rs.value("m").asString(), "");
  EXPECT_FALSE(rs.value("l").asBool());
  rs.moveNext();
  EXPECT_TRUE(rs.eof());
  EXPECT_THROW(rs.moveNext(), DataAccessError);
}

TEST(FoxProBackend, CountsAreExactAndDeletedRecordsStayHidden) {
  Connection c;
  c.setCursorLocation(adUseClient);
  c.open(folderConnection(std::string(QM_FIXTURES_DIR) + "/VFPX__Samples/Northwind"));
  RecordSet rs;
  rs.open("SELECT * FROM \"categories\"", c, adOpenStatic, adLockOptimistic);
  EXPECT_EQ(rs.recordCount(), 8);  // nine records in the file, one deleted
  long long n = 0;
  for (; !rs.eof(); rs.moveNext()) {
    EXPECT_EQ(rs.value(0).kind(), Value::Kind::Int);
    ++n;
  }
  EXPECT_EQ(n, 8);
  RecordSet orders;
  orders.open("SELECT * FROM \"orders\"", c, adOpenStatic, adLockOptimistic);
  EXPECT_EQ(orders.recordCount(), 830);
  int nulls = 0;
  for (; !orders.eof(); orders.moveNext()) nulls += orders.value("shippeddat").isNull();
  EXPECT_EQ(nulls, 21);  // SHIPPEDDATE is null on 21 orders
}

TEST(FoxProBackend, SchemaListsTablesOfAFolderOrAContainer) {
  TempFolder dir;
  Connection c;
  c.open(folderConnection(dir.path));
  c.execute("CREATE TABLE 'Beta.DBF'(x C(1))");
  c.execute("CREATE TABLE alpha (x C(1))");
  RecordSet schema(c.openSchema(adSchemaTables));
  std::vector<std::string> names;
  for (; !schema.eof(); schema.moveNext()) {
    EXPECT_EQ(schema.value("TABLE_TYPE").asString(), "TABLE");
    names.push_back(schema.value("TABLE_NAME").asString());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Beta", "alpha"}));

  Connection dbc;
  dbc.open("Provider=vfpoledb.1;Data Source=" + std::string(QM_FIXTURES_DIR) +
           "/VFPX__Samples/Northwind/northwind.dbc;Collating Sequence=machine;");
  RecordSet members(dbc.openSchema(adSchemaTables));
  // The container's own list: its 13 tables and 17 views, by their long names.
  int tables = 0, views = 0;
  for (; !members.eof(); members.moveNext()) {
    const std::string type = members.value("TABLE_TYPE").asString();
    tables += type == "TABLE";
    views += type == "VIEW";
  }
  EXPECT_EQ(tables, 13);
  EXPECT_EQ(views, 17);
}

TEST(FoxProBackend, FailuresCarryFoxProsMessages) {
  TempFolder dir;
  EXPECT_NE(messageOf([&] {
              Connection c;
              c.open(folderConnection(dir.path + "/missing"));
            }).find("Invalid path or file name"),
            std::string::npos);
  EXPECT_EQ(messageOf([&] {
              Connection c;
              c.open("Provider=vfpoledb.1;Data Source=" + dir.path + "/none.dbc;");
            }),
            "File 'none.dbc' does not exist.");
  Connection c;
  c.open(folderConnection(dir.path));
  EXPECT_EQ(messageOf([&] { c.execute("DROP TABLE [orders]"); }),
            "File 'orders.dbf' does not exist.");
  EXPECT_EQ(messageOf([&] { c.execute("CREATE TABLE x ("); }), "Syntax error.");
  EXPECT_EQ(messageOf([&] {
              RecordSet rs;
              rs.open("SELECT * FROM \"nothere\"", c, adOpenStatic, adLockOptimistic);
            }),
            "File 'nothere.dbf' does not exist.");
}

TEST(FoxProBackend, ReplacedCharactersAreCountedUntilTheConnectionCloses) {
  TempFolder dir;
  Connection c;
  c.open(folderConnection(dir.path));
  c.execute("CREATE TABLE t (m M)");
  c.execute("INSERT INTO t VALUES('Grüße €')");  // all in 1252
  EXPECT_EQ(c.charactersReplaced(), 0);
  c.execute("INSERT INTO t VALUES('Ωμέγα')");
  EXPECT_EQ(c.charactersReplaced(), 5);
  c.close();
  Connection again;
  again.open(folderConnection(dir.path));
  RecordSet rs;
  rs.open("SELECT * FROM t", again, adOpenStatic, adLockOptimistic);
  EXPECT_EQ(rs.value(0).asString(), "Grüße €");
  rs.moveNext();
  EXPECT_EQ(rs.value(0).asString(), "?????");
}

TEST(FoxProBackend, FieldNamesAreTheContainersLongNamesAndUtf8) {
  // The .dbf holds CATEGORYNA; the container keeps categoryname, which the transfers must see.
  Connection dbc;
  dbc.open("Provider=vfpoledb.1;Data Source=" + std::string(QM_FIXTURES_DIR) +
           "/VFPX__Samples/Northwind/northwind.dbc;Collating Sequence=machine;");
  RecordSet categories;
  categories.open("SELECT * FROM \"categories\"", dbc);
  ASSERT_EQ(categories.fieldCount(), 4);
  EXPECT_EQ(categories.field(1).name, "categoryname");
  EXPECT_EQ(categories.field(2).name, "description");

  // Names stored in code page 936 reach the caller as UTF-8, like the values.
  Connection folder;
  folder.open(
      folderConnection(std::string(QM_FIXTURES_DIR) + "/albfernandez__javadbf/src/test/resources"));
  RecordSet gbk;
  gbk.open("SELECT * FROM \"gbk\"", folder);
  ASSERT_GT(gbk.fieldCount(), 0);
  EXPECT_EQ(gbk.field(0).name, "\xE8\xAE\xBE\xE8\xAE\xA1\xE7\xBC\x96\xE5\x8F\xB7");  // 设计编号
}
