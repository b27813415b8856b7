// Secure connections: every connection uses TLS when the server offers it, SSLMODE asks for
// more (or less), and a verified connection needs the authority that signed the server's
// certificate. Against a sandbox started with --tls and against the plain one.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "ado/dataaccess.h"
#include "core/connection_strings.h"
#include "support/mysql_sandbox.h"

namespace {

// The cipher the server says this connection uses; empty in the clear.
std::string cipherOf(const std::string& connectionString) {
  ado::Connection cn;
  cn.setCursorLocation(ado::adUseClient);
  cn.open(connectionString);
  ado::RecordSet rs(cn.execute("SHOW STATUS LIKE 'Ssl_cipher'"));
  return rs.eof() ? std::string("<no row>") : rs.value(1).toText();
}

std::string openError(const std::string& connectionString) {
  try {
    cipherOf(connectionString);
  } catch (const ado::DataAccessError& e) {
    return e.what();
  }
  return "<connected>";
}

class TlsServer : public qmtest::MySqlDatabaseTest {
 protected:
  const char* sandboxVariable() const override { return qmtest::kTlsSandboxVariable; }
};

class PlainServer : public qmtest::MySqlDatabaseTest {};

}  // namespace

TEST_F(TlsServer, ConnectionsAreEncryptedAndAVerifiedOneTrustsOnlyItsAuthority) {
  ASSERT_FALSE(sandbox().tlsAuthority.empty());
  const std::string cs = connectionString();
  EXPECT_NE(cipherOf(cs), "");  // nothing asked: TLS because the server offers it
  EXPECT_NE(cipherOf(cs + "SSLMODE=REQUIRED;"), "");
  EXPECT_NE(cipherOf(cs + "SSLMODE=VERIFY_IDENTITY;SSLCA=" + sandbox().tlsAuthority + ";"), "");
  EXPECT_NE(cipherOf(cs + "sslmode=verify_ca;SSLCA=" + sandbox().tlsAuthority + ";"), "");
  EXPECT_EQ(cipherOf(cs + "SSLMODE=DISABLED;"), "");

  // A certificate the named authority did not sign, or the system's authorities that know
  // nothing of this one: no connection.
  EXPECT_NE(openError(cs + "SSLMODE=VERIFY_IDENTITY;SSLCA=" + sandbox().otherTlsAuthority + ";"),
            "<connected>");
  EXPECT_NE(openError(cs + "SSLMODE=VERIFY_IDENTITY;"), "<connected>");

  // The window's connection string carries the stored options.
  platform::ConnectionFields f = adminFields();
  f.mysqlOptions =
      QString::fromStdString("SSLMODE=VERIFY_IDENTITY;SSLCA=" + sandbox().otherTlsAuthority);
  EXPECT_NE(openError(platform::MySQLConnectionString(f)), "<connected>");
  f.mysqlOptions =
      QString::fromStdString("SSLMODE=VERIFY_IDENTITY;SSLCA=" + sandbox().tlsAuthority);
  EXPECT_NE(cipherOf(platform::MySQLConnectionString(f)), "");
}

TEST_F(PlainServer, APlainServerIsUsedInTheClearUnlessTlsIsRequired) {
  const std::string cs = connectionString();
  EXPECT_EQ(cipherOf(cs), "");
  const std::string refused = openError(cs + "SSLMODE=REQUIRED;");
  EXPECT_NE(refused.find("offers no TLS"), std::string::npos) << refused;
  EXPECT_NE(openError(cs + "SSLMODE=VERIFY_IDENTITY;"), "<connected>");
  const std::string typo = openError(cs + "SSLMODE=always;");
  EXPECT_NE(typo.find("Invalid SSLMODE"), std::string::npos) << typo;
}

TEST_F(TlsServer, AConnectionThatWaitsWithoutBlockingIsEncryptedAndVerifiedToo) {
  // The handshake and every read run inside the client library's non-blocking calls.
  int calls = 0;
  ado::Connection cn;
  cn.setCursorLocation(ado::adUseServer);
  cn.setWaiting([&] { ++calls; });
  cn.open(connectionString() + "SSLMODE=VERIFY_IDENTITY;SSLCA=" + sandbox().tlsAuthority + ";");
  {
    ado::RecordSet rs(cn.execute("SHOW STATUS LIKE 'Ssl_cipher'"));
    ASSERT_FALSE(rs.eof());
    EXPECT_NE(rs.value(1).toText(), "");
  }
  calls = 0;
  cn.execute("SELECT SLEEP(0.5)");
  EXPECT_GE(calls, 5);
  ado::RecordSet rs(cn.execute("SELECT seq, REPEAT('x', seq % 1000) FROM seq_1_to_5000"));
  long long sum = 0, bytes = 0;
  for (; !rs.eof(); rs.moveNext()) {
    sum += std::stoll(rs.value(0).toText());
    bytes += static_cast<long long>(rs.value(1).asString().size());
  }
  EXPECT_EQ(sum, 5000LL * 5001 / 2);
  EXPECT_EQ(bytes, 2497500LL);  // 0..999 five times

  struct Stop {};
  ado::Connection abandoned;
  abandoned.open(connectionString() + "SSLMODE=REQUIRED;");
  abandoned.setWaiting([] { throw Stop{}; });
  EXPECT_THROW(abandoned.execute("SELECT SLEEP(3)"), Stop);
  EXPECT_EQ(abandoned.state(), ado::adStateClosed);
}

TEST_F(TlsServer, TheReadLimitEndsAWaitingStatementOnATlsConnection) {
  // Inside TLS the client library waits without a limit of its own; the session applies it.
  auto failure = [&](bool withCallback) {
    ado::Connection cn;
    cn.setCommandTimeout(1);
    if (withCallback) cn.setWaiting([] {});
    cn.open(connectionString() + "SSLMODE=REQUIRED;");
    auto start = std::chrono::steady_clock::now();
    try {
      cn.execute("SELECT SLEEP(4)");
    } catch (const ado::DataAccessError& e) {
      EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                3.0);
      return std::make_pair(e.nativeCode(), std::string(e.what()));
    }
    ADD_FAILURE() << "the read limit did not end the statement";
    return std::make_pair(0, std::string());
  };
  auto plain = failure(false);
  auto waited = failure(true);
  // Both are the client library's connection errors ("TLS/SSL error: Connection timed out"
  // when it times the read itself, "Lost connection to server during query" when the session
  // cut it), so the caller knows the connection is gone either way.
  EXPECT_GE(plain.first, 2000);
  EXPECT_LT(plain.first, 3000);
  EXPECT_GE(waited.first, 2000);
  EXPECT_LT(waited.first, 3000);
}
