#include "support/mysql_sandbox.h"

#include <mysql.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>

namespace qmtest {

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Reads "export KEY=value" lines as mysql-sandbox writes them (values are plain words).
std::map<std::string, std::string> readEnvFile(const std::string& path) {
  std::map<std::string, std::string> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("export ", 0) == 0) line.erase(0, 7);
    auto eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

struct MysqlDeleter {
  void operator()(MYSQL* m) const { mysql_close(m); }
};

std::unique_ptr<MYSQL, MysqlDeleter> adminConnect(const MySqlSandbox& s, const char* db,
                                                  std::string& error) {
  std::unique_ptr<MYSQL, MysqlDeleter> m(mysql_init(nullptr));
  unsigned protocol = MYSQL_PROTOCOL_TCP;
  mysql_optionsv(m.get(), MYSQL_OPT_PROTOCOL, &protocol);
  mysql_optionsv(m.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
  if (!mysql_real_connect(m.get(), s.host.c_str(), s.adminUser.c_str(), s.adminPassword.c_str(), db,
                          static_cast<unsigned>(std::stoul(s.port)), nullptr, 0)) {
    error = mysql_error(m.get());
    return nullptr;
  }
  return m;
}

}  // namespace

bool mysqlOptional() { return env("QM_MYSQL_OPTIONAL") == "1"; }

bool variantsRequired() { return env("QM_MYSQL_VARIANTS") == "1"; }

std::optional<MySqlSandbox> findSandboxIn(const char* dirVariable) {
  const std::string dir = env(dirVariable);
  if (dir.empty()) return std::nullopt;
  auto vars = readEnvFile(dir + "/env");
  MySqlSandbox s{
      vars["QM_MYSQL_HOST"],           vars["QM_MYSQL_PORT"],     vars["QM_MYSQL_USER"],
      vars["QM_MYSQL_PASSWORD"],       vars["QM_MYSQL_DATABASE"], vars["QM_MYSQL_ADMIN_USER"],
      vars["QM_MYSQL_ADMIN_PASSWORD"], vars["QM_MYSQL_TLS_CA"],   vars["QM_MYSQL_TLS_OTHER_CA"]};
  if (s.host.empty() || s.port.empty() || s.adminUser.empty()) return std::nullopt;
  return s;
}

std::optional<MySqlSandbox> findMySqlSandbox() {
  std::map<std::string, std::string> vars;
  if (!env("QM_MYSQL_HOST").empty()) {
    for (const char* k : {"QM_MYSQL_HOST", "QM_MYSQL_PORT", "QM_MYSQL_USER", "QM_MYSQL_PASSWORD",
                          "QM_MYSQL_DATABASE", "QM_MYSQL_ADMIN_USER", "QM_MYSQL_ADMIN_PASSWORD"})
      vars[k] = env(k);
  } else {
    std::string dir = env("QM_SANDBOX_DIR");
    if (dir.empty()) dir = "/tmp/quillmere-mysql-" + std::to_string(getuid());
    vars = readEnvFile(dir + "/env");
    if (vars["QM_MYSQL_HOST"].empty()) return std::nullopt;
  }
  MySqlSandbox s{vars["QM_MYSQL_HOST"],
                 vars["QM_MYSQL_PORT"],
                 vars["QM_MYSQL_USER"],
                 vars["QM_MYSQL_PASSWORD"],
                 vars["QM_MYSQL_DATABASE"],
                 vars["QM_MYSQL_ADMIN_USER"],
                 vars["QM_MYSQL_ADMIN_PASSWORD"],
                 {},
                 {}};
  if (s.port.empty() || s.adminUser.empty()) return std::nullopt;
  return s;
}

std::string mysqlConnectionString(const std::string& server, const std::string& port,
                                  const std::string& user, const std::string& password,
                                  const std::string& database) {
  return "DRIVER={MySQL ODBC 5.1 Driver};SERVER=" + server + ";PORT=" + port + ";USER=" + user +
         ";DATABASE=" + database + ";PASSWORD=" + password + ";";
}

void MySqlDatabaseTest::SetUp() {
  if (const char* variable = sandboxVariable()) {
    auto found = findSandboxIn(variable);
    if (!found) {
      if (!variantsRequired()) GTEST_SKIP() << "no sandbox named by " << variable;
      FAIL() << "no sandbox named by " << variable << " (scripts/test starts it)";
    }
    sandbox_ = *found;
  } else if (auto found = findMySqlSandbox()) {
    sandbox_ = *found;
  } else {
    if (mysqlOptional()) GTEST_SKIP() << "no MariaDB sandbox (QM_MYSQL_OPTIONAL=1)";
    FAIL() << "no MariaDB sandbox: run scripts/test, or scripts/mysql-sandbox start; "
              "set QM_MYSQL_OPTIONAL=1 to skip these tests";
  }
  static std::atomic<int> serial{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  // Unique per process and test, short enough for MySQL's 64-character limit.
  database_ = "qmt_" + std::to_string(getpid()) + "_" + std::to_string(serial++) + "_" +
              std::string(info->name()).substr(0, 30);
  std::string error;
  auto m = adminConnect(sandbox_, nullptr, error);
  ASSERT_TRUE(m) << "cannot reach the sandbox: " << error;
  std::string sql = "CREATE DATABASE `" + database_ + "` CHARACTER SET utf8mb4";
  ASSERT_EQ(mysql_query(m.get(), sql.c_str()), 0) << mysql_error(m.get());
}

void MySqlDatabaseTest::TearDown() {
  if (database_.empty()) return;
  std::string error;
  if (auto m = adminConnect(sandbox_, nullptr, error)) {
    std::string sql = "DROP DATABASE IF EXISTS `" + database_ + "`";
    EXPECT_EQ(mysql_query(m.get(), sql.c_str()), 0) << mysql_error(m.get());
  }
}

std::string MySqlDatabaseTest::connectionString() const {
  return mysqlConnectionString(sandbox_.host, sandbox_.port, sandbox_.adminUser,
                               sandbox_.adminPassword, database_);
}

platform::ConnectionFields MySqlDatabaseTest::adminFields() const {
  platform::ConnectionFields f;
  f.server = QString::fromStdString(sandbox_.host);
  f.port = QString::fromStdString(sandbox_.port);
  f.user = QString::fromStdString(sandbox_.adminUser);
  f.password = QString::fromStdString(sandbox_.adminPassword);
  f.database = QString::fromStdString(database_);
  return f;
}

platform::ConnectionFields MySqlDatabaseTest::adminFields(
    const std::string& freeTableFolder) const {
  platform::ConnectionFields f = adminFields();
  f.useDbcFile = false;
  f.freeTableFolder = QString::fromStdString(freeTableFolder);
  return f;
}

void MySqlDatabaseTest::admin(const std::string& sql) const {
  std::string error;
  auto m = adminConnect(sandbox_, database_.c_str(), error);
  ASSERT_TRUE(m) << error;
  ASSERT_EQ(mysql_query(m.get(), sql.c_str()), 0) << mysql_error(m.get()) << "\n" << sql;
}

}  // namespace qmtest
