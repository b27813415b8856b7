// Benchmark: quillmere-transfer --sync --to-foxpro of a 1M-row MySQL table of which 1% changed
// (half of those rows updated, a quarter new, a quarter deleted), next to the full typed copy
// of the same table to FoxPro in the same run, each timed as a whole process from start to exit
// with its peak memory. A second sync right after must find nothing.
//
//   source /tmp/<sandbox>/env   # QM_MYSQL_HOST, _PORT, _USER, _PASSWORD, _DATABASE
//   bench_sync_to_foxpro [rows=1000000] [folder=/tmp] [tool=<build>/tools/quillmere-transfer]
#include <mysql.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/bench_tool.h"

namespace {

namespace fs = std::filesystem;
using bench::env;
using bench::Run;
using bench::Tool;

std::string Row(long r, const std::string& name) {
  const std::string n = std::to_string(r);
  return "(" + n + ", '" + name + "', 'Berlin, " + std::to_string(r % 100) +
         " Unter den Linden', " + std::to_string(r % 100000) + ".25, " +
         (r % 10 ? "'2021-08-31'" : "NULL") + ", '2021-08-31 12:34:56', " + std::to_string(r % 50) +
         ", " + n + ".5, " + (r % 2 ? "1" : "0") + ", 'A note, it''s \"quoted\"\\r\\nx', " +
         std::to_string(r % 5000) + ".125, " +
         (r % 5 ? "'tag " + std::to_string(r % 31) + "'" : "NULL") + ")";
}

void Insert(MYSQL* m, long from, long to, const char* name) {
  std::string values;
  for (long r = from; r < to; ++r) {
    values += (values.empty() ? "" : ",") + Row(r, name + std::to_string(r % 977));
    if (values.size() > 1000000 || r + 1 == to) {
      bench::run(m, "INSERT INTO sync_bench VALUES " + values);
      values.clear();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::string base = argc > 2 ? argv[2] : "/tmp";
  const std::string tool =
      argc > 3 ? argv[3]
               : (fs::path(argv[0]).parent_path() / ".." / "tools" / "quillmere-transfer").string();
  const std::string folder = base + "/qm-bench-syncfox-" + std::to_string(getpid());
  fs::create_directories(folder + "/config");
  // No stored settings: everything comes from the command line.
  setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);

  MYSQL* m = mysql_init(nullptr);
  if (!mysql_real_connect(m, env("QM_MYSQL_HOST").c_str(), env("QM_MYSQL_USER").c_str(),
                          env("QM_MYSQL_PASSWORD").c_str(), env("QM_MYSQL_DATABASE").c_str(),
                          unsigned(std::atoi(env("QM_MYSQL_PORT").c_str())), nullptr, 0)) {
    std::fprintf(stderr, "cannot connect: %s\n", mysql_error(m));
    return 2;
  }
  std::printf("making the %ld-row table ...\n", rows);
  std::fflush(stdout);
  // A table name of its own: the sandbox's database may hold other benchmarks' tables.
  bench::run(m, "DROP TABLE IF EXISTS sync_bench");
  bench::run(m,
             "CREATE TABLE sync_bench (id INT NOT NULL PRIMARY KEY, name VARCHAR(40) NOT NULL, "
             "city VARCHAR(80) NOT NULL, amount DECIMAL(12,2) NOT NULL, day DATE NULL, "
             "stamp DATETIME NOT NULL, qty INT NOT NULL, ratio DOUBLE NOT NULL, "
             "flag TINYINT(1) NOT NULL, note TEXT NOT NULL, cost DECIMAL(19,4) NOT NULL, "
             "tag VARCHAR(20) NULL)");
  Insert(m, 0, rows, "Customer ");
  const std::vector<std::string> target = {"--foxpro", folder};
  const Run full =
      Tool(tool, {"--to-foxpro", "--typed", "--overwrite", "sync_bench", target[0], target[1]},
           folder + "/full.txt");
  std::printf("full typed copy: %.2f s, at most %ld KB, exit status %d\n", full.seconds,
              full.maxRssKb, full.status);
  std::fflush(stdout);

  // Of every hundredth row, two in four take a new name, one in four is gone, and a quarter as
  // many rows as that are new at the end.
  bench::run(m,
             "UPDATE sync_bench SET name = CONCAT('Renamed ', id) WHERE id % 100 = 0 AND "
             "(id DIV 100) % 4 < 2");
  bench::run(m, "DELETE FROM sync_bench WHERE id % 100 = 0 AND (id DIV 100) % 4 = 3");
  Insert(m, rows, rows + rows / 400, "New ");
  mysql_close(m);

  const Run sync =
      Tool(tool, {"--sync", "--to-foxpro", "--delete", "sync_bench", target[0], target[1]},
           folder + "/sync.txt");
  std::printf("sync of 1%% changed: %.2f s, at most %ld KB, exit status %d\n", sync.seconds,
              sync.maxRssKb, sync.status);
  std::printf("  %s", sync.out.c_str());
  const Run again =
      Tool(tool, {"--sync", "--to-foxpro", "--delete", "sync_bench", target[0], target[1]},
           folder + "/again.txt");
  std::printf("second sync: %.2f s, at most %ld KB, exit status %d\n", again.seconds,
              again.maxRssKb, again.status);
  std::printf("  %s", again.out.c_str());
  std::printf(
      "RESULT sync_s=%.2f full_s=%.2f ratio=%.3f sync_rss_kb=%ld second_s=%.2f "
      "second_found_nothing=%s\n",
      sync.seconds, full.seconds, sync.seconds / full.seconds, sync.maxRssKb, again.seconds,
      again.status == 0 && again.out.find("Nothing changed.") != std::string::npos ? "yes" : "no");
  MYSQL* end = mysql_init(nullptr);
  if (mysql_real_connect(end, env("QM_MYSQL_HOST").c_str(), env("QM_MYSQL_USER").c_str(),
                         env("QM_MYSQL_PASSWORD").c_str(), env("QM_MYSQL_DATABASE").c_str(),
                         unsigned(std::atoi(env("QM_MYSQL_PORT").c_str())), nullptr, 0))
    bench::run(end, "DROP TABLE sync_bench");
  mysql_close(end);
  fs::remove_all(folder);
  return full.status == 0 && sync.status == 0 && again.status == 0 ? 0 : 1;
}
