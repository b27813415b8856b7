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

namespace qmtest {

struct MySqlSandbox {
  std::string host;
  std::string port;
  std::string user;
  std::string password;
  std::string database;
  std::string adminUser;
  std::string adminPassword;
};

std::optional<MySqlSandbox> findMySqlSandbox();
bool mysqlOptional();

// The program's own form of a MySQL connection string.
std::string mysqlConnectionString(const std::string& server, const std::string& port,
                                  const std::string& user, const std::string& password,
                                  const std::string& database);

// Gives each test an empty database of its own, dropped afterwards; connectionString() opens it
// with the administrator login. Fails (or skips, when optional) without a sandbox.
class MySqlDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const MySqlSandbox& sandbox() const { return sandbox_; }
  const std::string& database() const { return database_; }
  std::string connectionString() const;
  // Runs statements as administrator in the test's database; fails the test on error.
  void admin(const std::string& sql) const;

 private:
  MySqlSandbox sandbox_;
  std::string database_;
};

}  // namespace qmtest
