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
  // No stored settings: everything comes from the command line.
  const bench::ToolBench where(argv[0], argc > 3 ? argv[3] : nullptr, argc > 2 ? argv[2] : "/tmp",
                               "qm-bench-syncfox");
  const std::string& tool = where.tool;
  const std::string& folder = where.folder;

  MYSQL* m = bench::connect();
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

  const bool ran = bench::SyncTwice(
      tool, {"--sync", "--to-foxpro", "--delete", "sync_bench", target[0], target[1]}, folder,
      full);
  MYSQL* end = bench::connect();  // the first one was closed before the timed runs
  bench::run(end, "DROP TABLE sync_bench");
  mysql_close(end);
  fs::remove_all(folder);
  return ran ? 0 : 1;
}
