// Connections that call back while the server works on a statement, so a window can answer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "ado/mysql_session.h"
#include "support/mute_server.h"
#include "support/mysql_sandbox.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Stop {};  // what a window throws when the program is ending

using qmtest::MuteServer;

std::string MuteConnectionString(const MuteServer& mute, const qmtest::MySqlSandbox& sb) {
  return qmtest::mysqlConnectionString("127.0.0.1", mute.port(), sb.user, sb.password, sb.database);
}

class MySqlWaiting : public qmtest::MySqlDatabaseTest {
 protected:
  // Every value of every row, with its kind, so two reads can be compared exactly.
  static std::vector<std::string> Rows(ado::RecordSet& rs) {
    std::vector<std::string> out;
    for (; !rs.eof(); rs.moveNext()) {
      std::string row;
      for (int k = 0; k < rs.fieldCount(); ++k) {
        const ado::Value& v = rs.value(k);
        row += std::to_string(static_cast<int>(v.kind())) + ":" +
               (v.isNull() ? std::string("NULL") : v.toText()) + "|";
      }
      out.push_back(row);
    }
    return out;
  }
};

TEST_F(MySqlWaiting, AStatementTheServerWorksOnCallsBackAndStillReturnsItsRows) {
  for (auto location : {ado::adUseClient, ado::adUseServer}) {
    SCOPED_TRACE(location == ado::adUseClient ? "stored" : "streamed");
    int calls = 0;
    ado::Connection cn;
    cn.setCursorLocation(location);
    cn.setWaiting([&] { ++calls; });
    cn.open(connectionString());
    const int afterOpen = calls;
    auto start = Clock::now();
    ado::RecordSet rs(cn.execute("SELECT SLEEP(1) AS s, 42 AS answer"));
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.value("answer").toText(), "42");
    EXPECT_EQ(rs.value("s").toText(), "0");
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
    // About one call per 20 ms of the second; a loaded machine may stretch the slices.
    EXPECT_GE(calls - afterOpen, 10);
    EXPECT_LE(calls - afterOpen, 60);
    EXPECT_GE(SecondsSince(start), 0.9);
  }
}

TEST_F(MySqlWaiting, RowsThatArriveSlowlyCallBackWhileTheyAreFetched) {
  admin("CREATE TABLE t (id INT PRIMARY KEY)");
  admin("INSERT INTO t VALUES (1),(2),(3),(4),(5)");
  int calls = 0;
  ado::Connection cn;
  cn.setWaiting([&] { ++calls; });
  cn.open(connectionString());
  // Each row outgrows the server's network buffer, so it is sent as soon as it is made, and the
  // next one is 0.2 s away: the waits fall into the fetches, not into the statement.
  ado::RecordSet rs(
      cn.execute("SELECT id, REPEAT('x', 70000) AS pad, SLEEP(0.2) AS s FROM t ORDER BY id"));
  calls = 0;  // from here on only the fetches wait
  std::vector<int> ids;
  for (; !rs.eof(); rs.moveNext()) {
    ids.push_back(static_cast<int>(rs.value("id").asInt()));
    EXPECT_EQ(rs.value("pad").asString().size(), 70000u);
  }
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_GE(calls, 20);
}

TEST_F(MySqlWaiting, RowsAreTheSameWithAndWithoutTheCallback) {
  admin(
      "CREATE TABLE t (id INT PRIMARY KEY, n DECIMAL(12,3), d DATE, ts DATETIME(6), "
      "f DOUBLE, txt TEXT, b BLOB, u BIGINT UNSIGNED)");
  admin(
      "INSERT INTO t SELECT seq, IF(seq % 7 = 0, NULL, seq * 1.125), "
      "DATE_ADD('2001-01-01', INTERVAL seq DAY), "
      "TIMESTAMP('2020-02-29 12:34:56.123456') + INTERVAL seq SECOND, seq / 3, "
      "IF(seq % 5 = 0, NULL, REPEAT(CONCAT('ä\\t', seq), seq % 50)), "
      "UNHEX(REPEAT('00FF', seq % 9)), 18446744073709551615 - seq FROM seq_1_to_3000");
  for (auto location : {ado::adUseClient, ado::adUseServer}) {
    SCOPED_TRACE(location == ado::adUseClient ? "stored" : "streamed");
    std::vector<std::string> plain, waited;
    {
      ado::Connection cn;
      cn.setCursorLocation(location);
      cn.open(connectionString());
      ado::RecordSet rs(cn.execute("SELECT * FROM t ORDER BY id"));
      plain = Rows(rs);
    }
    {
      ado::Connection cn;
      cn.setCursorLocation(location);
      cn.setWaiting([] {});
      cn.open(connectionString());
      ado::RecordSet rs(cn.execute("SELECT * FROM t ORDER BY id"));
      waited = Rows(rs);
    }
    ASSERT_EQ(plain.size(), 3000u);
    EXPECT_EQ(plain, waited);
  }
}

TEST_F(MySqlWaiting, ADropOnAHeldTableCallsBackUntilTheServersLockWaitEnds) {
  admin("CREATE TABLE held (id INT)");
  ado::Connection other;
  other.open(connectionString());
  other.execute("LOCK TABLES held WRITE");

  int calls = 0;
  ado::Connection cn;
  cn.setLockWaitTimeout(2);
  cn.setWaiting([&] { ++calls; });
  cn.open(connectionString());
  const int afterOpen = calls;
  auto start = Clock::now();
  try {
    cn.execute("DROP TABLE held");
    FAIL() << "the drop went through a held table";
  } catch (const ado::DataAccessError& e) {
    EXPECT_NE(std::string(e.what()).find("Lock wait timeout exceeded"), std::string::npos)
        << e.what();
  }
  EXPECT_GE(SecondsSince(start), 1.8);
  EXPECT_GE(calls - afterOpen, 20);
  // The refusal is the server's; the connection goes on working.
  ado::RecordSet rs(cn.execute("SELECT 7"));
  EXPECT_EQ(rs.value(0).toText(), "7");
  other.execute("UNLOCK TABLES");
  cn.execute("DROP TABLE held");
}

TEST_F(MySqlWaiting, ConnectingToAHostThatNeverAnswersCallsBackUntilTheConnectLimit) {
  MuteServer mute;
  int calls = 0;
  ado::Connection cn;
  cn.setConnectionTimeout(1);
  cn.setWaiting([&] { ++calls; });
  auto start = Clock::now();
  EXPECT_THROW(cn.open(MuteConnectionString(mute, sandbox())), ado::DataAccessError);
  EXPECT_LT(SecondsSince(start), 3.0);
  EXPECT_GE(calls, 10);
  EXPECT_EQ(cn.state(), ado::adStateClosed);
}

TEST_F(MySqlWaiting, TheReadLimitStillEndsAStatementAsItDoesWithoutTheCallback) {
  auto failure = [&](bool withCallback) {
    ado::Connection cn;
    cn.setCommandTimeout(1);
    if (withCallback) cn.setWaiting([] {});
    cn.open(connectionString());
    auto start = Clock::now();
    try {
      cn.execute("SELECT SLEEP(4)");
    } catch (const ado::DataAccessError& e) {
      EXPECT_LT(SecondsSince(start), 3.0);
      return std::make_pair(e.nativeCode(), std::string(e.what()));
    }
    ADD_FAILURE() << "the read limit did not end the statement";
    return std::make_pair(0, std::string());
  };
  auto plain = failure(false);
  auto waited = failure(true);
  EXPECT_NE(plain.first, 0);
  EXPECT_EQ(plain, waited);
}

TEST_F(MySqlWaiting, ACallbackThatThrowsAbandonsTheStatementAndClosesTheConnection) {
  // During a statement.
  {
    int calls = 0;
    ado::Connection cn;
    cn.setWaiting([&] {
      if (++calls == 5) throw Stop{};
    });
    cn.open(connectionString());
    calls = 0;
    auto start = Clock::now();
    EXPECT_THROW(cn.execute("SELECT SLEEP(5)"), Stop);
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_EQ(cn.state(), ado::adStateClosed);
    EXPECT_THROW(cn.execute("SELECT 1"), ado::DataAccessError);
    cn.setWaiting({});
    cn.open(connectionString());  // the object can be opened again
    ado::RecordSet rs(cn.execute("SELECT 3"));
    EXPECT_EQ(rs.value(0).toText(), "3");
  }
  // While connecting to a host that takes the connection but never greets.
  {
    MuteServer mute;
    ado::Connection cn;
    cn.setWaiting([] { throw Stop{}; });
    auto start = Clock::now();
    EXPECT_THROW(cn.open(MuteConnectionString(mute, sandbox())), Stop);
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_EQ(cn.state(), ado::adStateClosed);
  }
  // While streamed rows are fetched: the record set reports the lost connection, and so does
  // every later statement.
  {
    admin("CREATE TABLE t (id INT PRIMARY KEY)");
    admin("INSERT INTO t VALUES (1),(2),(3),(4)");
    bool armed = false;
    ado::Connection cn;
    cn.setWaiting([&] {
      if (armed) throw Stop{};
    });
    cn.open(connectionString());
    ado::RecordSet rs(
        cn.execute("SELECT id, REPEAT('x', 70000) AS pad, SLEEP(0.5) FROM t ORDER BY id"));
    armed = true;
    auto start = Clock::now();
    EXPECT_THROW(
        {
          for (; !rs.eof(); rs.moveNext()) {
          }
        },
        Stop);
    EXPECT_LT(SecondsSince(start), 1.5);
    EXPECT_THROW(rs.moveNext(), ado::DataAccessError);
    EXPECT_THROW(cn.execute("SELECT 1"), ado::DataAccessError);
    rs.close();
    cn.close();
  }
}

TEST_F(MySqlWaiting, APreparedStatementInATransactionIsAbandonedCleanlyToo) {
  admin("CREATE TABLE t (id INT PRIMARY KEY, v INT) ENGINE=InnoDB");
  bool armed = false;
  int calls = 0;
  ado::Connection cn;
  cn.setWaiting([&] {
    ++calls;
    if (armed) throw Stop{};
  });
  cn.open(connectionString());
  ado::MySqlSession* s = ado::mysqlSessionOf(cn);
  ASSERT_NE(s, nullptr);
  {
    // Waiting without throwing: the statement's result and its rows are right.
    auto slow = s->prepare("INSERT INTO t SELECT ?, SLEEP(?)");
    calls = 0;
    slow.execute({ado::Value::fromInt(1), ado::Value::fromDouble(0.3)});
    EXPECT_EQ(slow.affectedRows(), 1u);
    EXPECT_GE(calls, 5);
  }
  auto start = Clock::now();
  try {
    ado::MySqlTransaction tx(*s);
    auto slow = s->prepare("INSERT INTO t SELECT ?, SLEEP(?)");
    armed = true;
    slow.execute({ado::Value::fromInt(2), ado::Value::fromInt(5)});
    ADD_FAILURE() << "the callback's exception was lost";
  } catch (const Stop&) {
    // The statement and the transaction went without a word to the server, or a crash.
  }
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_TRUE(s->abandoned());
  EXPECT_THROW(s->execute("SELECT 1"), ado::DataAccessError);
  EXPECT_THROW(s->prepare("SELECT 1"), ado::DataAccessError);
  cn.close();
  ado::Connection check;
  check.setCursorLocation(ado::adUseClient);
  check.open(connectionString());
  ado::RecordSet rs(check.execute("SELECT id FROM t ORDER BY id"));
  EXPECT_EQ(rs.recordCount(), 1);  // the abandoned row never committed
}

TEST_F(MySqlWaiting, AStatementStartedFromInsideTheCallbackIsRefusedAndTheWaitingOneEndsWell) {
  ado::Connection cn;
  std::vector<std::string> refusals;
  cn.open(connectionString());
  cn.setWaiting([&] {
    try {
      cn.execute("SELECT 1");
    } catch (const ado::DataAccessError& e) {
      refusals.push_back(e.what());
    }
  });
  ado::RecordSet rs(cn.execute("SELECT SLEEP(0.5), 'done'"));
  EXPECT_EQ(rs.value(1).toText(), "done");
  ASSERT_FALSE(refusals.empty());
  EXPECT_NE(refusals.front().find("still waiting"), std::string::npos) << refusals.front();
  cn.setWaiting({});
  ado::RecordSet again(cn.execute("SELECT 'next'"));
  EXPECT_EQ(again.value(0).toText(), "next");
}

}  // namespace
