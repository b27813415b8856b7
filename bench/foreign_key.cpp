// Benchmark: the foreign key of a typed send. A container's parent (shop, a primary key) and
// child (sale, a foreign key to shop) go through quillmere-transfer --to-mysql --typed, run as a
// whole process and timed from start to exit, next to the classic send of the same tables. Then
// the script's relation lines (from --dry-run) run again on their own, after the foreign key is
// dropped, each timed with the server's counters for that line: a foreign key that makes MySQL
// copy the child table shows as one ALTER TABLE with a Handler_write per child row.
//
//   source /tmp/<sandbox>/env   # QM_MYSQL_HOST, _PORT, _USER, _PASSWORD, _DATABASE
//   bench_foreign_key [rows=1000000] [parents=1000] [folder=/tmp/qm_bench_fk]
//                     [tool=<build>/tools/quillmere-transfer]
//
// The tool's own counters are the server's global ones, so other clients of the same server
// during the run add to them; the per-line counters are the bench connection's own.
#include <mysql.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "vfp/database.h"
#include "vfp/session.h"

namespace {

using namespace bench;

struct Counters {
  long long alters = 0, writes = 0;
  static Counters now(MYSQL* m, const char* scope) {
    const std::string show = std::string("SHOW ") + scope + " STATUS LIKE ";
    return {scalar(m, show + "'Com_alter_table'", 1), scalar(m, show + "'Handler_write'", 1)};
  }
};

void dropTables(MYSQL* m) {
  run(m, "DROP TABLE IF EXISTS `sale`");
  run(m, "DROP TABLE IF EXISTS `shop`");
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const long parents = argc > 2 ? std::atol(argv[2]) : 1000;
  const std::string folder = argc > 3 ? argv[3] : "/tmp/qm_bench_fk";
  std::string tool = argc > 4 ? argv[4] : "";
  if (tool.empty()) {
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0)
      tool =
          (std::filesystem::path(self).parent_path().parent_path() / "tools" / "quillmere-transfer")
              .string();
  }
  QCoreApplication qt(argc, argv);

  // An empty database container of the fixtures holds the two tables.
  const std::filesystem::path container =
      std::filesystem::path(QM_FIXTURES_DIR) / "infused__dbf/spec/fixtures/foxprodb";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  for (const auto& e : std::filesystem::directory_iterator(container))
    std::filesystem::copy_file(e.path(), std::filesystem::path(folder) / e.path().filename());
  const std::string dbc = folder + "/FOXPRO-DB-TEST.DBC";
  auto t0 = Clock::now();
  {
    vfp::Session s(vfp::openCatalog(dbc));
    s.execute("CREATE TABLE shop (id I PRIMARY KEY, name C(20))");
    for (long p = 1; p <= parents; ++p)
      s.execute("INSERT INTO shop VALUES (" + std::to_string(p) + ", 'shop " + std::to_string(p) +
                "')");
    s.execute(
        "CREATE TABLE sale (sid I PRIMARY KEY, shop I, qty I, note C(20), "
        "FOREIGN KEY shop TAG shop REFERENCES shop)");
    for (long r = 0; r < rows; ++r)
      s.execute("INSERT INTO sale VALUES (" + std::to_string(r) + ", " +
                std::to_string(1 + r % parents) + ", " + std::to_string(r % 50) + ", 'a sale')");
    s.flush();
  }
  std::printf("FoxPro tables made in %.1f s: shop %ld rows, sale %ld rows, one relation\n",
              seconds(t0, Clock::now()), parents, rows);

  MYSQL* m = connect();
  QTemporaryDir config;  // no stored settings: everything comes from the command line
  auto tool_args = [&](bool typed) {
    QStringList args{"--to-mysql",
                     "--foxpro",
                     QString::fromStdString(dbc),
                     "--mysql-server",
                     QString::fromStdString(env("QM_MYSQL_HOST")),
                     "--mysql-port",
                     QString::fromStdString(env("QM_MYSQL_PORT")),
                     "--mysql-user",
                     QString::fromStdString(env("QM_MYSQL_USER")),
                     "--mysql-password",
                     QString::fromStdString(env("QM_MYSQL_PASSWORD")),
                     "--mysql-database",
                     QString::fromStdString(env("QM_MYSQL_DATABASE"))};
    if (typed) args.prepend("--typed");
    return args;
  };
  auto runTool = [&](QStringList args) {
    QProcess p;
    QProcessEnvironment penv = QProcessEnvironment::systemEnvironment();
    penv.insert("XDG_CONFIG_HOME", config.path());
    p.setProcessEnvironment(penv);
    args << "shop"
         << "sale";
    p.start(QString::fromStdString(tool), args);
    p.waitForFinished(-1);
    const int status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    const std::string out = p.readAllStandardOutput().toStdString();
    if (status != 0) std::printf("  exit status %d; notes:\n%s\n", status, out.c_str());
    return status;
  };

  auto send = [&](bool typed) {
    const char* what = typed ? "typed tool" : "tool";
    dropTables(m);
    const Counters before = Counters::now(m, "GLOBAL");
    const auto start = Clock::now();
    runTool(tool_args(typed));
    const double sec = seconds(start, Clock::now());
    const Counters after = Counters::now(m, "GLOBAL");
    std::printf(
        "%s: whole process %.2f s; sale %lld rows, shop %lld rows, foreign keys on sale %lld; "
        "server-wide Com_alter_table +%lld, Handler_write +%lld\n",
        what, sec, scalar(m, "SELECT COUNT(*) FROM sale"), scalar(m, "SELECT COUNT(*) FROM shop"),
        scalar(m,
               "SELECT COUNT(*) FROM information_schema.REFERENTIAL_CONSTRAINTS WHERE "
               "CONSTRAINT_SCHEMA = DATABASE() AND TABLE_NAME = 'sale'"),
        after.alters - before.alters, after.writes - before.writes);
    return sec;
  };
  // The relation's lines of the typed script: every line after the last that loads or keys a
  // table, that is, from the first line that names a FOREIGN KEY or checks one.
  const std::string scriptFile = folder + "/typed.sql";
  QStringList dry = tool_args(true);
  dry << "--dry-run" << QString::fromStdString(scriptFile);
  dropTables(m);
  runTool(dry);
  std::vector<std::string> lines;
  {
    std::ifstream in(scriptFile, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
  }
  const double classic = send(false);
  const double typed = send(true);
  std::printf("typed / classic, whole process: %.2f\n", typed / classic);

  std::size_t first = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find("FOREIGN KEY") != std::string::npos ||
        lines[i].find("foreign_key_checks") != std::string::npos ||
        lines[i].rfind("BEGIN NOT ATOMIC", 0) == 0) {
      first = i;
      break;
    }
  if (first == lines.size()) {
    std::printf("the typed script has no relation lines\n");
    return 1;
  }
  const std::string fk =
      "SELECT CONSTRAINT_NAME FROM information_schema.REFERENTIAL_CONSTRAINTS "
      "WHERE CONSTRAINT_SCHEMA = DATABASE() AND TABLE_NAME = 'sale'";
  if (mysql_real_query(m, fk.data(), fk.size()) == 0) {
    MYSQL_RES* r = mysql_store_result(m);
    while (MYSQL_ROW row = r ? mysql_fetch_row(r) : nullptr)
      run(m, std::string("ALTER TABLE `sale` DROP FOREIGN KEY `") + row[0] + "`");
    if (r) mysql_free_result(r);
  }
  std::printf("the relation's lines alone, after its foreign key is dropped:\n");
  double total = 0;
  for (std::size_t i = first; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    const Counters before = Counters::now(m, "SESSION");
    const auto start = Clock::now();
    run(m, lines[i]);
    const double sec = seconds(start, Clock::now());
    total += sec;
    const Counters after = Counters::now(m, "SESSION");
    std::printf("  %.3f s, Com_alter_table +%lld, Handler_write +%lld: %.90s%s\n", sec,
                after.alters - before.alters, after.writes - before.writes, lines[i].c_str(),
                lines[i].size() > 90 ? "..." : "");
  }
  std::printf("relation lines in all: %.2f s\n", total);
  dropTables(m);
  mysql_close(m);
  return 0;
}
