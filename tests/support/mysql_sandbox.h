// How tests reach the private MariaDB that scripts/mysql-sandbox starts, and a fixture giving
// each test a database of its own.
//
// The details come from the environment (QM_MYSQL_HOST, _PORT, _USER, _PASSWORD, _DATABASE,
// _ADMIN_USER, _ADMIN_PASSWORD, as scripts/test exports them), else from the env file of a
// sandbox started by hand ($QM_SANDBOX_DIR/env, default /tmp/quillmere-mysql-<uid>/env).
// Without a server the tests FAIL; set QM_MYSQL_OPTIONAL=1 to have them skipped instead.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/application.h"

namespace qmtest {

struct MySqlSandbox {
  std::string host;
  std::string port;
  std::string user;
  std::string password;
  std::string database;
  std::string adminUser;
  std::string adminPassword;
  std::string tlsAuthority;       // --tls: the authority that signed the server's certificate
  std::string otherTlsAuthority;  // --tls: one that did not
};

std::optional<MySqlSandbox> findMySqlSandbox();
bool mysqlOptional();

// The sandboxes started with an option, found through the variable naming their folder (its
// env file is read); scripts/test starts them and sets the variables.
inline constexpr const char* kTlsSandboxVariable = "QM_TLS_SANDBOX_DIR";
inline constexpr const char* kLowerCaseSandboxVariable = "QM_LOWER_CASE_SANDBOX_DIR";
std::optional<MySqlSandbox> findSandboxIn(const char* dirVariable);
// Tests that need such a sandbox skip without it while developing, and fail in scripts/test
// (QM_MYSQL_VARIANTS=1).
bool variantsRequired();

// The program's own form of a MySQL connection string.
std::string mysqlConnectionString(const std::string& server, const std::string& port,
                                  const std::string& user, const std::string& password,
                                  const std::string& database);

// Gives each test an empty database of its own, dropped afterwards; connectionString() opens it
// with the administrator login. Fails (or skips, when optional) without a sandbox.
class MySqlDatabaseTest : public ::testing::Test {
 protected:
  // The variable naming the sandbox's folder for a test that needs a sandbox started with an
  // option; nullptr for the plain one.
  virtual const char* sandboxVariable() const { return nullptr; }
  void SetUp() override;
  void TearDown() override;

  const MySqlSandbox& sandbox() const { return sandbox_; }
  const std::string& database() const { return database_; }
  std::string connectionString() const;
  // The connection window's MySQL fields for the administrator in the test's database.
  platform::ConnectionFields adminFields() const;
  // The same, with a folder of free tables as the FoxPro side.
  platform::ConnectionFields adminFields(const std::string& freeTableFolder) const;
  // Runs statements as administrator in the test's database; fails the test on error.
  void admin(const std::string& sql) const;

 private:
  MySqlSandbox sandbox_;
  std::string database_;
};

}  // namespace qmtest
