// Typed round trips through quillmere-transfer --typed, both ways: a container's tables sent to
// MySQL and back into another container keep their field types, their tags (compared by the keys
// each holds, since an expression may come back spelled otherwise), their relation and their
// values; MySQL tables sent to a container and back keep their column types, keys and values.
// What may change is only what the report of the trip named.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <map>

#include "foxpro_to_mysql_support.h"
#include "support/mysql_sandbox.h"
#include "vfp/cdx_reader.h"
#include "vfp/file.h"
#include "vfp/schema.h"

using namespace tomysql_test;

namespace {

struct ToolRun {
  int exitCode = -1;
  std::string out;
};

class TypedRoundTrip : public qmtest::MySqlDatabaseTest {
 protected:
  QTemporaryDir config;  // no stored settings: everything from the command line
  TempFolder work;
  std::string back;  // the database a MySQL table comes back into

  void SetUp() override {
    qmtest::MySqlDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    back = database() + "_back";
    admin("CREATE DATABASE `" + back + "`");
  }
  void TearDown() override {
    if (!back.empty()) admin("DROP DATABASE IF EXISTS `" + back + "`");
    qmtest::MySqlDatabaseTest::TearDown();
  }

  // A fresh copy of a small container, for a round trip to start or end in.
  std::string container(const std::string& name) {
    const fs::path from = fs::path(QM_FIXTURES_DIR) / "infused__dbf/spec/fixtures/foxprodb";
    const fs::path to = fs::path(work.path) / name;
    fs::create_directories(to);
    for (const auto& e : fs::directory_iterator(from))
      fs::copy_file(e.path(), to / e.path().filename());
    return (to / "FOXPRO-DB-TEST.DBC").string();
  }

  ToolRun run(const char* direction, const std::string& foxpro, const std::string& db,
              const QStringList& tables) {
    QStringList args{direction, "--typed", "--foxpro", QString::fromStdString(foxpro)};
    args << "--mysql-server" << QString::fromStdString(sandbox().host) << "--mysql-port"
         << QString::fromStdString(sandbox().port) << "--mysql-user"
         << QString::fromStdString(sandbox().adminUser) << "--mysql-password"
         << QString::fromStdString(sandbox().adminPassword) << "--mysql-database"
         << QString::fromStdString(db) << tables;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.remove("MYSQL_PWD");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(QM_BINARY_DIR "/tools/quillmere-transfer"), args);
    EXPECT_TRUE(p.waitForFinished(120000));
    ToolRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    return r;
  }

  std::string mysql(const std::string& db) const {
    return qmtest::mysqlConnectionString(sandbox().host, sandbox().port, sandbox().adminUser,
                                         sandbox().adminPassword, db);
  }
  // The rows of a query, each row's values after the first joined, keyed by the first.
  std::map<std::string, std::string> byFirst(const std::string& db, const std::string& sql) {
    std::map<std::string, std::string> out;
    for (const auto& r : MySqlRows(mysql(db), sql)) {
      std::string rest;
      for (std::size_t k = 1; k < r.size(); ++k) rest += (k > 1 ? " " : "") + r[k];
      out[r[0]] += (out[r[0]].empty() ? "" : "; ") + rest;
    }
    return out;
  }
};

// "N(12,2) NULL", "I AUTOINC 9", "M NOCPTRANS": a field's shape, name aside.
std::string shapeOf(const vfp::FieldSchema& f) {
  std::string s(1, f.type);
  if (f.type == 'C' || f.type == 'V' || f.type == 'N' || f.type == 'F' || f.type == 'Q')
    s += "(" + std::to_string(f.width) + (f.decimals ? "," + std::to_string(f.decimals) : "") + ")";
  if (f.nullable) s += " NULL";
  if (f.binary && f.type != 'Q' && f.type != 'W' && f.type != 'G') s += " NOCPTRANS";
  if (f.autoInc) s += " AUTOINC " + std::to_string(f.autoIncNext);
  return s;
}

std::map<std::string, std::string> shapesOf(const vfp::TableSchema& t) {
  std::map<std::string, std::string> out;
  for (const auto& f : t.fields) out[f.name] = shapeOf(f);
  return out;
}

// Each tag by its kind and the keys it holds, in index order: what a tag is, however its
// expression is spelled.
std::map<std::string, std::vector<vfp::cdx::KeyEntry>> tagsOf(const vfp::TableSchema& t) {
  std::map<std::string, std::vector<vfp::cdx::KeyEntry>> out;
  if (t.tags.empty()) return out;
  const auto cdx = vfp::cdx::IndexFile::open(*vfp::findCompanion(t.path, ".cdx"));
  for (const auto& tag : t.tags) {
    const char* kind = tag.kind == vfp::TagKind::Primary     ? "primary "
                       : tag.kind == vfp::TagKind::Candidate ? "candidate "
                                                             : "regular ";
    const auto* info = cdx.findTag(tag.name);
    if (!info) continue;
    // The pad is ' ' for a character key, 0 for the others; both restore the same bytes for
    // keys that were not shortened, and comparing the two containers' keys with one pad each
    // is fair.
    out[kind + tag.name] = cdx.keys(*info, ' ');
  }
  return out;
}

std::string tablePath(const std::string& dbc, const std::string& table) {
  for (const auto& e : fs::directory_iterator(fs::path(dbc).parent_path())) {
    std::string stem = e.path().stem().string(), ext = e.path().extension().string();
    if (vfp::equalsNoCase(stem, table) && vfp::equalsNoCase(ext, ".dbf")) return e.path().string();
  }
  return {};
}

}  // namespace

TEST_F(TypedRoundTrip, AContainersTablesComeBackFromMySqlWithTheirTypesTagsRelationAndValues) {
  const std::string from = container("from"), to = container("to");
  ado::Connection fox;
  fox.open("Provider=vfpoledb.1;Data Source=" + from + ";");
  // Autoincrementing fields take the values given once the rows are in, as FoxPro's own
  // upsizing leaves them.
  for (const char* sql : {
           "CREATE TABLE parent (id I PRIMARY KEY, code C(6) NOT NULL, name V(20) NULL, note M, "
           "price Y, qty N(8,2) NULL, ratio B, born D, stamp T NULL, flag L, region C(3))",
           "INSERT INTO parent VALUES (1, 'ab', 'Ann', 'two lines', 12.5, 3.25, 1.5, "
           "{^2021-08-31}, {^2021-08-31 10:20:30}, .T., 'x')",
           "INSERT INTO parent VALUES (2, 'AB', NULL, '', -922337203685477.5807, NULL, -2.25, "
           "{^1999-12-31}, NULL, .F., 'y')",
           "INSERT INTO parent VALUES (3, 'zz', 'Bert', 'x', 0, -9999.99, 0, {^2000-02-29}, "
           "{^2000-02-29 23:59:59}, .T., 'abc')",
           "ALTER TABLE parent ALTER COLUMN id I AUTOINC",
           "INDEX ON code TAG code CANDIDATE",
           "INDEX ON code+region TAG coderegion",
           "INDEX ON DTOS(born)+code TAG borncode",
           "INDEX ON born TAG born",
           "CREATE TABLE child (cid I, pid I NULL, what C(10), "
           "FOREIGN KEY pid TAG parent REFERENCES parent)",
           "INSERT INTO child VALUES (1, 1, 'one')",
           "INSERT INTO child VALUES (2, NULL, 'none')",
           "INSERT INTO child VALUES (3, 3, 'three')",
           "ALTER TABLE child ADD PRIMARY KEY cid TAG cid",
           "ALTER TABLE child ALTER COLUMN cid I AUTOINC",
       })
    fox.execute(sql);
  fox.close();

  const ToolRun there = run("--to-mysql", from, database(), {"parent", "child"});
  ASSERT_EQ(there.exitCode, 0) << there.out;
  const ToolRun home = run("--to-foxpro", to, database(), {"parent", "child"});
  ASSERT_EQ(home.exitCode, 0) << home.out;

  for (const char* table : {"parent", "child"}) {
    SCOPED_TRACE(table);
    const auto sent = vfp::describeTable(tablePath(from, table));
    const auto arrived = vfp::describeTable(tablePath(to, table));
    auto want = shapesOf(sent);
    if (std::string(table) == "parent") {
      // N(w,d) went as DECIMAL(w+d,d), whose every value needs w+d+2 places.
      want["qty"] = "N(12,2) NULL";
    }
    EXPECT_EQ(shapesOf(arrived), want);
    EXPECT_EQ(tagsOf(sent).size(), std::string(table) == "parent" ? 5u : 2u);
    EXPECT_EQ(tagsOf(arrived), tagsOf(sent));
    const auto rowsSent = FoxRows("Provider=vfpoledb.1;Data Source=" + from + ";", table);
    const auto rowsArrived = FoxRows("Provider=vfpoledb.1;Data Source=" + to + ";", table);
    EXPECT_EQ(rowsArrived, rowsSent);
  }
  std::vector<std::string> relations;
  for (const auto& dbc : {from, to})
    for (const auto& r : vfp::describeRelations(dbc))
      if (vfp::equalsNoCase(r.childTable, "child"))
        relations.push_back(r.childTag + " -> " + r.parentTable + "." + r.parentTag);
  EXPECT_EQ(relations, (std::vector<std::string>{"PARENT -> parent.ID", "PARENT -> parent.ID"}));
}

TEST_F(TypedRoundTrip, MySqlTablesComeBackFromAContainerWithTheirColumnsKeysAndValues) {
  admin(
      "CREATE TABLE clients (id INT AUTO_INCREMENT PRIMARY KEY, code CHAR(6) NOT NULL, "
      "name VARCHAR(30) NULL, day DATE NOT NULL, active TINYINT(1) NOT NULL, "
      "amount DECIMAL(9,2) NULL, ratio DOUBLE NULL, price DECIMAL(19,4) NOT NULL, "
      "stamp DATETIME NULL, note TEXT NULL, pic BLOB NULL, "
      "UNIQUE KEY code (code), KEY name_day (name, day))");
  admin(
      "INSERT INTO clients VALUES "
      "(3, 'K-07', 'Anna', '2021-08-31', 1, -1234567.89, 0.1, 922337203685477.5807, "
      "'2021-08-31 12:34:56', 'it''s\\r\\ntwo lines', 0x00FF10),"
      "(5, 'K-01', NULL, '1999-12-31', 0, NULL, NULL, -1.5, NULL, NULL, NULL),"
      "(12, 'K-02', 'Anna', '2021-08-30', 1, 9999999.99, -2.5e-300, 0.0001, "
      "'1970-01-02 00:00:01', '', '')");
  admin(
      "CREATE TABLE bookings (ono INT NOT NULL, line INT NOT NULL, customer INT NOT NULL, "
      "PRIMARY KEY (ono, line), KEY by_customer (customer), "
      "CONSTRAINT fk_customer FOREIGN KEY (customer) REFERENCES clients (id))");
  admin("INSERT INTO bookings VALUES (100, 1, 12), (100, 2, 3), (101, 1, 12), (205, 7, 5)");

  const std::string dbc = container("via");
  const ToolRun there = run("--to-foxpro", dbc, database(), {"clients", "bookings"});
  ASSERT_EQ(there.exitCode, 0) << there.out;
  const ToolRun home = run("--to-mysql", dbc, back, {"clients", "bookings"});
  ASSERT_EQ(home.exitCode, 0) << home.out;

  auto columns = [&](const std::string& db) {
    return byFirst(db,
                   "SELECT CONCAT(TABLE_NAME, '.', COLUMN_NAME), COLUMN_TYPE, IS_NULLABLE, "
                   "EXTRA FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = '" +
                       db + "'");
  };
  auto want = columns(database());
  // DECIMAL(9,2) became N(11,2), which holds 11 digits and goes back as DECIMAL(13,2); a memo
  // has no size, so TEXT and BLOB come back as the largest.
  want["clients.amount"] = "decimal(13,2) YES ";
  want["clients.note"] = "longtext YES ";
  want["clients.pic"] = "longblob YES ";
  EXPECT_EQ(columns(back), want);
  // Index names come back in FoxPro's upper case, cut to its ten characters (as reported).
  auto keys = [&](const std::string& db) {
    return byFirst(db,
                   "SELECT CONCAT(TABLE_NAME, '.', UPPER(LEFT(INDEX_NAME, 10))), NON_UNIQUE, "
                   "COLUMN_NAME FROM information_schema.STATISTICS WHERE TABLE_SCHEMA = '" +
                       db + "' ORDER BY TABLE_NAME, INDEX_NAME, SEQ_IN_INDEX");
  };
  EXPECT_NE(there.out.find("index by_customer -> tag BY_CUSTOME"), std::string::npos) << there.out;
  EXPECT_EQ(keys(back), keys(database()));
  auto foreignKeys = [&](const std::string& db) {
    return byFirst(db,
                   "SELECT CONCAT(TABLE_NAME, '.', COLUMN_NAME), REFERENCED_TABLE_NAME, "
                   "REFERENCED_COLUMN_NAME FROM information_schema.KEY_COLUMN_USAGE WHERE "
                   "TABLE_SCHEMA = '" +
                       db + "' AND REFERENCED_TABLE_NAME IS NOT NULL");
  };
  EXPECT_EQ(foreignKeys(back), foreignKeys(database()));
  auto next = [&](const std::string& db) {
    return byFirst(db,
                   "SELECT TABLE_NAME, AUTO_INCREMENT FROM information_schema.TABLES WHERE "
                   "TABLE_SCHEMA = '" +
                       db + "' AND TABLE_NAME = 'clients'");
  };
  EXPECT_EQ(next(back), next(database()));
  for (const char* sql :
       {"SELECT * FROM clients ORDER BY id", "SELECT * FROM bookings ORDER BY ono, line"})
    EXPECT_EQ(MySqlRows(mysql(back), sql), MySqlRows(mysql(database()), sql)) << sql;
}
