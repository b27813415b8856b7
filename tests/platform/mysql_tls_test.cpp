// Secure connections: every connection uses TLS when the server offers it, SSLMODE asks for
// more (or less), and a verified connection needs the authority that signed the server's
// certificate. Against a sandbox started with --tls and against the plain one.
#include <gtest/gtest.h>

#include <string>

#include "platform/connection_strings.h"
#include "platform/dataaccess.h"
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
  platform::ConnectionFields f;
  f.server = QString::fromStdString(sandbox().host);
  f.port = QString::fromStdString(sandbox().port);
  f.user = QString::fromStdString(sandbox().adminUser);
  f.password = QString::fromStdString(sandbox().adminPassword);
  f.database = QString::fromStdString(database());
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
