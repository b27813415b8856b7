// Record sets on the MySQL backend: counts, streaming, unicode, adding rows, server errors,
// and the session used for bulk copying.
#include <gtest/gtest.h>

#include "ado/dataaccess.h"
#include "ado/mysql_session.h"
#include "support/mysql_sandbox.h"

namespace {

using ado::Value;

class MySqlRecordSet : public qmtest::MySqlDatabaseTest {
 protected:
  void SetUp() override {
    MySqlDatabaseTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    admin("CREATE TABLE n (id INT PRIMARY KEY, label VARCHAR(10))");
    // 1000 rows, so a stored result and a streamed one differ in what they know up front.
    std::string sql = "INSERT INTO n VALUES ";
    for (int i = 1; i <= 1000; ++i)
      sql += (i > 1 ? "," : "") + std::string("(") + std::to_string(i) + ",'r" + std::to_string(i) +
             "')";
    admin(sql);
  }

  std::vector<std::int64_t> readIds(ado::RecordSet& rs) {
    std::vector<std::int64_t> ids;
    while (!rs.eof()) {
      ids.push_back(rs.value("ID").asInt());
      rs.moveNext();
    }
    return ids;
  }
};

TEST_F(MySqlRecordSet, ClientCursorCountsExactlyAndServerCursorStreamsEveryRow) {
  ado::Connection client;
  client.setCursorLocation(ado::adUseClient);
  client.open(connectionString());
  ado::RecordSet stored;
  stored.open("SELECT * FROM n ORDER BY id", client, ado::adOpenStatic);
  EXPECT_EQ(stored.recordCount(), 1000);
  EXPECT_EQ(readIds(stored).size(), 1000u);
  EXPECT_THROW(stored.moveNext(), ado::DataAccessError);

  ado::RecordSet empty(client.execute("SELECT * FROM n WHERE id < 0"));
  EXPECT_EQ(empty.recordCount(), 0);
  EXPECT_TRUE(empty.eof());
  EXPECT_THROW(empty.value(0), ado::DataAccessError);

  ado::Connection server;  // server-side is the default
  server.open(connectionString());
  ado::RecordSet streamed;
  streamed.open("SELECT * FROM n ORDER BY id", server, ado::adOpenForwardOnly);
  EXPECT_EQ(streamed.recordCount(), -1);
  auto ids = readIds(streamed);
  ASSERT_EQ(ids.size(), 1000u);
  EXPECT_EQ(ids.front(), 1);
  EXPECT_EQ(ids.back(), 1000);
}

TEST_F(MySqlRecordSet, OtherCommandsMayRunWhileAStreamIsHalfRead) {
  ado::Connection c;
  c.open(connectionString());
  ado::RecordSet first(c.execute("SELECT id FROM n ORDER BY id"));
  for (int i = 0; i < 10; ++i) first.moveNext();
  // Without care the connection would answer "Commands out of sync".
  c.execute("INSERT INTO n VALUES (2000, 'late')");
  ado::RecordSet second(c.execute("SELECT COUNT(*) FROM n"));
  EXPECT_EQ(second.value(0).asInt(), 1001);
  auto rest = readIds(first);
  ASSERT_EQ(rest.size(), 990u);  // the stream was taken before the insert
  EXPECT_EQ(rest.front(), 11);

  // A stream abandoned half way does not block the connection either.
  {
    ado::RecordSet abandoned(c.execute("SELECT id FROM n"));
    abandoned.moveNext();
  }
  ado::RecordSet after(c.execute("SELECT 42"));
  EXPECT_EQ(after.value(0).asInt(), 42);
}

TEST_F(MySqlRecordSet, ServerErrorsPassThroughVerbatim) {
  ado::Connection c;
  c.open(connectionString());
  try {
    c.execute("SELECT * FROM missing_table");
    FAIL();
  } catch (const ado::DataAccessError& e) {
    EXPECT_EQ(std::string(e.what()), "Table '" + database() + ".missing_table' doesn't exist");
    EXPECT_EQ(e.nativeCode(), 1146);
  }
  try {
    c.execute("INSERT INTO n VALUES (1, 'dup')");
    FAIL();
  } catch (const ado::DataAccessError& e) {
    EXPECT_EQ(std::string(e.what()), "Duplicate entry '1' for key 'PRIMARY'");
  }
  // Statements without rows hand back nothing; the connection stays usable after errors.
  EXPECT_EQ(c.execute("DELETE FROM n WHERE id > 500"), nullptr);
  ado::RecordSet rs(c.execute("SELECT COUNT(*) FROM n"));
  EXPECT_EQ(rs.value(0).asInt(), 500);
}

TEST_F(MySqlRecordSet, TablesSchemaListsTablesAndViews) {
  admin("CREATE VIEW v AS SELECT id FROM n");
  ado::Connection c;
  c.open(connectionString());
  ado::RecordSet rs(c.openSchema(ado::adSchemaTables));
  std::vector<std::string> seen;
  while (!rs.eof()) {
    seen.push_back(rs.value("TABLE_NAME").asString() + ":" + rs.value("TABLE_TYPE").asString());
    rs.moveNext();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"n:TABLE", "v:VIEW"}));

  // The table listing sends its statement with a terminator; the server takes it as one.
  ado::Connection client;
  client.setCursorLocation(ado::adUseClient);
  client.open(connectionString());
  ado::RecordSet show(client.execute("SHOW TABLES;"));
  EXPECT_EQ(show.recordCount(), 2);
  EXPECT_EQ(show.value(0).asString(), "n");
}

class MySqlUpdatable : public qmtest::MySqlDatabaseTest {};

TEST_F(MySqlUpdatable, AddedRowsReachTheTableWithEveryKindOfValue) {
  admin(
      "CREATE TABLE u (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40), note TEXT, "
      "amount DECIMAL(20,6), ratio DOUBLE, big BIGINT UNSIGNED, flag BIT(1), day DATE, "
      "stamp DATETIME(6), span TIME, raw BLOB, fixed BINARY(4), missing VARCHAR(5) DEFAULT "
      "'dflt')");
  const std::string unicode = "Zoë 😀 日本語 Ωmega ß";
  const std::string bytes("\x00\x01\xff'\"\\;", 7);
  {
    ado::Connection c;
    c.setCursorLocation(ado::adUseClient);
    c.open(connectionString());
    ado::RecordSet rs;
    rs.open("SELECT * FROM u", c, ado::adOpenKeyset, ado::adLockOptimistic);
    EXPECT_EQ(rs.recordCount(), 0);
    auto set = [&](const char* name, Value v) { rs.setValue(rs.fieldIndex(name), std::move(v)); };

    rs.addNew();
    set("name", Value::fromText(unicode));
    set("note", Value::fromText("it's \"quoted\"; line1\r\nline2 `x` \\ end"));
    set("amount", Value::fromDecimal("-12345678901234.123456"));
    set("ratio", Value::fromDouble(0.1));
    set("big", Value::fromUInt(18446744073709551615ull));
    set("flag", Value::fromBool(true));
    set("day", Value::fromDate({2024, 2, 29}));
    set("stamp", Value::fromDateTime({{1999, 12, 31}, {false, 23, 59, 58, 654321}}));
    set("span", Value::fromTime({true, 100, 2, 3, 0}));
    set("raw", Value::fromBytes(bytes));
    set("fixed", Value::fromBytes(std::string("\x00\x00\x00\x01", 4)));
    rs.update();
    EXPECT_EQ(rs.value("id").asInt(), 1);  // the key the server gave
    EXPECT_EQ(rs.recordCount(), 1);

    rs.addNew();
    set("name", Value::null());
    set("amount", Value::fromDecimal("0.000001"));
    rs.update();
    EXPECT_EQ(rs.value("id").asInt(), 2);
    EXPECT_EQ(rs.recordCount(), 2);

    // A value the column refuses is the server's to judge, and nothing is stored.
    rs.addNew();
    set("amount", Value::fromText("not a number"));
    try {
      rs.update();
      ADD_FAILURE() << "text stored in a decimal column";
    } catch (const ado::DataAccessError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Incorrect decimal value: 'not a number'", 0), 0u)
          << e.what();
    }
  }
  ado::Connection c;
  c.setCursorLocation(ado::adUseClient);
  c.open(connectionString());
  ado::RecordSet rs(c.execute("SELECT * FROM u ORDER BY id"));
  ASSERT_EQ(rs.recordCount(), 2);
  EXPECT_EQ(rs.value("name").asString(), unicode);
  EXPECT_EQ(rs.value("note").asString(), "it's \"quoted\"; line1\r\nline2 `x` \\ end");
  EXPECT_EQ(rs.value("amount").asString(), "-12345678901234.123456");
  EXPECT_EQ(rs.value("ratio").asDouble(), 0.1);
  EXPECT_EQ(rs.value("big").asUInt(), 18446744073709551615ull);
  EXPECT_TRUE(rs.value("flag").asBool());
  EXPECT_EQ(rs.value("day").toText(), "2024-02-29");
  EXPECT_EQ(rs.value("stamp").toText(), "1999-12-31 23:59:58.654321");
  EXPECT_EQ(rs.value("span").toText(), "-100:02:03");
  EXPECT_EQ(rs.value("raw").asString(), bytes);
  EXPECT_EQ(rs.value("fixed").asString(), std::string("\x00\x00\x00\x01", 4));
  EXPECT_EQ(rs.value("missing").asString(), "dflt");  // columns not given keep their default
  rs.moveNext();
  EXPECT_TRUE(rs.value("name").isNull());
  EXPECT_EQ(rs.value("amount").asString(), "0.000001");
  EXPECT_TRUE(rs.value("note").isNull());
}

TEST_F(MySqlUpdatable, RefusalsAreClear) {
  admin("CREATE TABLE u (id INT PRIMARY KEY, amount DECIMAL(5,2))");
  ado::Connection c;
  c.open(connectionString());
  ado::RecordSet readOnly(c.execute("SELECT * FROM u"));
  EXPECT_THROW(readOnly.addNew(), ado::DataAccessError);

  ado::RecordSet rs;
  rs.open("SELECT id, amount, amount * 2 AS twice FROM u", c, ado::adOpenKeyset,
          ado::adLockOptimistic);
  rs.addNew();
  EXPECT_THROW(rs.setValue(2, Value::fromInt(1)), ado::DataAccessError);  // not a column
  rs.setValue(0, Value::fromInt(1));
  rs.setValue(1, Value::fromDecimal("12345.6"));
  try {
    rs.update();
    FAIL();
  } catch (const ado::DataAccessError& e) {
    EXPECT_EQ(std::string(e.what()), "Out of range value for column 'amount' at row 1");
  }
}

// The row copy into MySQL reopens an empty, streamed record set for every row and adds to it.
TEST_F(MySqlUpdatable, RowsAddedThroughAFreshServerSideSetEachTime) {
  admin("CREATE TABLE copy (k INT, txt VARCHAR(10))");
  ado::Connection c;
  c.open(connectionString());
  for (int r = 0; r < 5; ++r) {
    ado::RecordSet rs;
    rs.open("select * from copy where k=" + std::to_string(r), c, ado::adOpenKeyset,
            ado::adLockOptimistic);
    EXPECT_TRUE(rs.eof());
    rs.addNew();
    rs.setValue(0, Value::fromInt(r));
    rs.setValue(1, r == 3 ? Value::null() : Value::fromText("row" + std::to_string(r)));
    rs.update();
    rs.close();
  }
  ado::RecordSet check(c.execute("SELECT COUNT(*), COUNT(txt), SUM(k) FROM copy"));
  EXPECT_EQ(check.value(0).asInt(), 5);
  EXPECT_EQ(check.value(1).asInt(), 4);
  EXPECT_EQ(check.value(2).asString(), "10");
}

TEST_F(MySqlUpdatable, SessionCopiesManyRowsPerStatementInsideATransaction) {
  admin("CREATE TABLE bulk (id INT PRIMARY KEY, txt VARCHAR(20)) ENGINE=InnoDB");
  ado::Connection c;
  c.open(connectionString());
  ado::MySqlSession* s = ado::mysqlSessionOf(c);
  ASSERT_NE(s, nullptr);
  {
    ado::MySqlTransaction tx(*s);
    auto insert = s->prepare("INSERT INTO bulk VALUES (?,?),(?,?),(?,?)");
    EXPECT_EQ(insert.paramCount(), 6u);
    for (int batch = 0; batch < 3; ++batch) {
      std::vector<Value> params;
      for (int i = 0; i < 3; ++i) {
        params.push_back(Value::fromInt(batch * 3 + i));
        params.push_back(Value::fromText("ü" + std::to_string(i)));
      }
      insert.execute(params);
      EXPECT_EQ(insert.affectedRows(), 3u);
    }
    EXPECT_THROW(insert.execute({Value::fromInt(1)}), ado::DataAccessError);
    tx.commit();
  }
  {
    ado::MySqlTransaction abandoned(*s);
    s->execute("INSERT INTO bulk VALUES (100, 'gone')");
  }  // rolled back
  ado::RecordSet rs(c.execute("SELECT COUNT(*), MAX(id), MIN(txt) FROM bulk"));
  EXPECT_EQ(rs.value(0).asInt(), 9);
  EXPECT_EQ(rs.value(1).asInt(), 8);
  EXPECT_EQ(rs.value(2).asString(), "ü0");
}

}  // namespace
