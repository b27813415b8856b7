// The connection and record-set objects over the MySQL backend: choosing the backend from the
// connection string, and what happens when objects are used out of order.
#include <gtest/gtest.h>

#include "platform/dataaccess.h"
#include "platform/mysql_session.h"
#include "support/mysql_sandbox.h"

namespace {

class DataAccessMySql : public qmtest::MySqlDatabaseTest {};

TEST_F(DataAccessMySql, DriverNamingMySqlSelectsTheBackendAndOtherStringsFailClearly) {
  ado::Connection c;
  EXPECT_EQ(ado::mysqlSessionOf(c), nullptr);
  c.open(connectionString());
  EXPECT_NE(ado::mysqlSessionOf(c), nullptr);
  EXPECT_THROW(c.open(connectionString()), ado::DataAccessError);  // already open
  c.close();
  c.close();  // closing twice is harmless
  EXPECT_THROW(c.execute("SELECT 1"), ado::DataAccessError);

  // The driver's name may be spelled as the user's settings have it; braces and case vary.
  std::string other = connectionString();
  other.replace(0, other.find(';'), "driver=MySQL ODBC 8.0 Unicode Driver");
  ado::Connection c2;
  c2.open(other);
  EXPECT_EQ(c2.state(), ado::adStateOpen);

  ado::Connection c3;
  try {
    c3.open("DRIVER={SQL Server};SERVER=x;");
    FAIL();
  } catch (const ado::DataAccessError& e) {
    EXPECT_EQ(std::string(e.what()), "Provider cannot be found. It may not be properly installed.");
  }
  EXPECT_EQ(c3.state(), ado::adStateClosed);
}

TEST_F(DataAccessMySql, RecordSetsOutliveTheirConnectionSafely) {
  admin("CREATE TABLE t (Id INT, Name VARCHAR(5))");
  admin("INSERT INTO t VALUES (1,'a'),(2,'b'),(3,'c')");
  ado::RecordSet stored, streamed;
  {
    ado::Connection client;
    client.setCursorLocation(ado::adUseClient);
    client.open(connectionString());
    stored.open("SELECT * FROM t ORDER BY Id", client, ado::adOpenStatic);
    ado::Connection server;
    server.open(connectionString());
    streamed.open("SELECT * FROM t ORDER BY Id", server);
  }  // both connections released while their rows are still being read
  int n = 0;
  for (; !stored.eof(); stored.moveNext(), ++n)
    EXPECT_EQ(stored.value("NAME").asString().size(), 1u);
  EXPECT_EQ(n, 3);
  n = 0;
  for (; !streamed.eof(); streamed.moveNext(), ++n) EXPECT_EQ(streamed.value("id").asInt(), n + 1);
  EXPECT_EQ(n, 3);
  EXPECT_THROW(streamed.value("nosuch"), ado::DataAccessError);
  streamed.close();
  EXPECT_EQ(streamed.state(), ado::adStateClosed);
  EXPECT_THROW(streamed.eof(), ado::DataAccessError);
}

}  // namespace
