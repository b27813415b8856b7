// Opening MySQL connections against the sandbox: the one that works and the ways it fails.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ado/dataaccess.h"
#include "ado/mysql_session.h"
#include "support/mysql_sandbox.h"

namespace {

using qmtest::mysqlConnectionString;

// A port on 127.0.0.1 where nothing listens: bound, then released.
std::string unusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return std::to_string(ntohs(addr.sin_port));
}

class MySqlConnection : public qmtest::MySqlDatabaseTest {
 protected:
  // Opens with the application login, changing one part; returns the error, or "" on success.
  ado::DataAccessError openFails(const std::string& server, const std::string& port,
                                 const std::string& password) {
    ado::Connection c;
    try {
      c.open(mysqlConnectionString(server, port, sandbox().user, password, sandbox().database));
    } catch (const ado::DataAccessError& e) {
      EXPECT_EQ(c.state(), ado::adStateClosed);
      return e;
    }
    ADD_FAILURE() << "connection opened with server " << server << " port " << port;
    return ado::DataAccessError("");
  }
};

TEST_F(MySqlConnection, OpensOverTcpEvenForLocalhostAndCloses) {
  for (std::string server : {"127.0.0.1", "localhost"}) {
    ado::Connection c;
    c.open(mysqlConnectionString(server, sandbox().port, sandbox().user, sandbox().password,
                                 sandbox().database));
    ASSERT_EQ(c.state(), ado::adStateOpen);
    ado::RecordSet rs(c.execute("SELECT DATABASE(), @@port, @@character_set_client"));
    EXPECT_EQ(rs.value(0).asString(), sandbox().database);
    // Only a TCP connection can reach the sandbox's port; a socket would find another server.
    EXPECT_EQ(rs.value(1).toText(), sandbox().port);
    EXPECT_EQ(rs.value(2).asString(), "utf8mb4");
    c.close();
    EXPECT_EQ(c.state(), ado::adStateClosed);
    EXPECT_EQ(ado::mysqlSessionOf(c), nullptr);
  }
}

TEST_F(MySqlConnection, EachWayOfFailingCarriesTheServerOrClientText) {
  auto wrongPassword = openFails(sandbox().host, sandbox().port, sandbox().password + "x");
  EXPECT_EQ(wrongPassword.nativeCode(), 1045);
  EXPECT_NE(std::string(wrongPassword.what()).find("Access denied for user 'quillmere'"),
            std::string::npos)
      << wrongPassword.what();

  auto wrongPort = openFails(sandbox().host, unusedPort(), sandbox().password);
  EXPECT_TRUE(wrongPort.nativeCode() == 2002 || wrongPort.nativeCode() == 2003)
      << wrongPort.nativeCode() << " " << wrongPort.what();

  auto host = openFails("no-such-host.invalid", sandbox().port, sandbox().password);
  EXPECT_EQ(host.nativeCode(), 2005) << host.what();
  EXPECT_NE(std::string(host.what()).find("no-such-host.invalid"), std::string::npos);
}

TEST_F(MySqlConnection, PortThatIsNotANumberIsRefusedBeforeAnyConnectionAttempt) {
  // The client library would read "abc" or "" as 0 and go to the default port instead.
  for (std::string port : {"abc", "", "3306x", "0", "65536", "-1"}) {
    auto e = openFails(sandbox().host, port, sandbox().password);
    EXPECT_EQ(e.nativeCode(), 0) << port;
    EXPECT_EQ(std::string(e.what()),
              "Invalid port \"" + port + "\": the port must be a number from 1 to 65535.");
  }
}

// A host that accepts the connection but never speaks, like a hung server: the open must give up
// after the connect time-out, our own when the caller sets none, instead of blocking forever.
TEST_F(MySqlConnection, ServerThatNeverAnswersFailsAfterTheConnectTimeout) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  const std::string port = std::to_string(ntohs(addr.sin_port));
  for (int timeout : {1, 0}) {
    ado::Connection c;
    c.setConnectionTimeout(timeout);
    try {
      c.open(mysqlConnectionString("127.0.0.1", port, "u", "p", "d"));
      ADD_FAILURE() << "opened a connection to a silent port";
    } catch (const ado::DataAccessError& e) {
      EXPECT_EQ(e.nativeCode(), 2013) << e.what();
    }
  }
  close(fd);
}

TEST_F(MySqlConnection, CommandTimeoutEndsAStatementThatRunsTooLong) {
  ado::Connection c;
  c.setCommandTimeout(1);
  c.open(connectionString());
  try {
    c.execute("SELECT SLEEP(4)");
    FAIL() << "a 4 s statement outlived a 1 s time-out";
  } catch (const ado::DataAccessError& e) {
    EXPECT_TRUE(e.nativeCode() == 2013 || e.nativeCode() == 2006) << e.nativeCode() << e.what();
  }
}

}  // namespace
