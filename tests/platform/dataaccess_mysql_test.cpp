// The connection and record-set objects over the MySQL backend: lifetimes.
#include <gtest/gtest.h>

#include "ado/dataaccess.h"
#include "support/mysql_sandbox.h"

namespace {

class DataAccessMySql : public qmtest::MySqlDatabaseTest {};

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
