// Benchmark: the row copy of "Send Table/s To MySQL" for a FoxPro free table of ten typical
// columns (int, two varchars, decimal, date, datetime, int, double, tinyint, a 60-character text
// with quotes and line breaks), against LOAD DATA LOCAL INFILE of the same rows from a TSV file
// as the baseline, in the same run. Memory is sampled during the copy (VmRSS).
//
//   source /tmp/quillmere-mysql-<uid>/env   # QM_MYSQL_HOST, _PORT, _USER, _PASSWORD, _DATABASE
//   bench_foxpro_to_mysql [rows=1000000] [folder=/tmp]
#include "transfer/foxpro_to_mysql.h"

#include <mysql.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/typical_foxpro_table.h"
#include "platform/dataaccess.h"
#include "platform/mysql_session.h"
#include "transfer/mysql_script.h"
#include "vfp/database.h"

namespace {

using clock_type = std::chrono::steady_clock;

std::string env(const char* name) {
  const char* v = std::getenv(name);
  if (!v) {
    std::fprintf(stderr, "%s is not set: source the sandbox's env file first\n", name);
    std::exit(2);
  }
  return v;
}

// CPU time of this process (the client's side of a copy), user and system.
double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long rssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

std::string tsvField(const ado::Value& v) {
  if (v.isNull()) return "\\N";
  std::string out;
  for (char c : v.toText()) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  std::string folder = std::string(argc > 2 ? argv[2] : "/tmp") + "/foxpro_to_mysql_bench";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string fox =
      "Provider=vfpoledb.1;Data Source=" + folder + ";Collating Sequence=general;";
  const std::string mysql = "DRIVER={MySQL ODBC 5.1 Driver};SERVER=" + env("QM_MYSQL_HOST") +
                            ";PORT=" + env("QM_MYSQL_PORT") + ";USER=" + env("QM_MYSQL_USER") +
                            ";DATABASE=" + env("QM_MYSQL_DATABASE") +
                            ";PASSWORD=" + env("QM_MYSQL_PASSWORD") + ";";

  auto t0 = clock_type::now();
  bench::MakeTypicalFoxproTable(folder, rows);
  std::printf("FoxPro table of %ld rows made in %.1f s (dbf %.1f MB)\n", rows,
              std::chrono::duration<double>(clock_type::now() - t0).count(),
              std::filesystem::file_size(folder + "/bench.dbf") / 1e6);

  // The script's part for the table, as the transfer makes it.
  ado::Connection source;
  source.setCursorLocation(ado::adUseClient);
  source.open(fox);
  // With the window's progress calls: the longest stretch between two is how long the window
  // would go unanswered while the script and its report are made.
  auto lastBuildCall = clock_type::now();
  double buildGapMs = 0;
  auto buildCall = [&](int) {
    const auto now = clock_type::now();
    buildGapMs = std::max(buildGapMs,
                          std::chrono::duration<double, std::milli>(now - lastBuildCall).count());
    lastBuildCall = now;
  };
  transfer::TableScript part =
      transfer::ScriptTable(source, fox, "bench", std::string(), {}, buildCall);
  buildCall(100);
  std::printf("longest stretch without a call back while the script was made: %.0f ms\n",
              buildGapMs);
  ado::Connection target;
  // As in the preview, the window is called back while the server works, so the copy runs
  // through the client library's non-blocking calls; QM_BENCH_BLOCKING=1 measures plain calls.
  long waits = 0;
  // The longest stretch without a call back during the copy: how long the window would go
  // unanswered.
  clock_type::time_point lastCall = clock_type::now();
  double longestGapMs = 0;
  auto calledBack = [&] {
    const auto now = clock_type::now();
    longestGapMs =
        std::max(longestGapMs, std::chrono::duration<double, std::milli>(now - lastCall).count());
    lastCall = now;
  };
  const bool blocking = std::getenv("QM_BENCH_BLOCKING") != nullptr;
  if (!blocking)
    target.setWaiting([&] {
      ++waits;
      calledBack();
    });
  target.open(mysql);
  target.execute("DROP TABLE IF EXISTS `bench`");  // a new table, as on a first run
  for (std::size_t i = 0; i + 1 < part.commands.size(); ++i) target.execute(part.commands[i]);

  // The row copy, as the preview runs it after the creation line.
  std::vector<std::string> notes;
  long rssStart = rssKb(), rssMax = rssStart;
  int calls = 0;
  double cpu0 = cpuSeconds();
  t0 = clock_type::now();
  lastCall = t0;
  longestGapMs = 0;
  part.job->run(
      target,
      [&](int) {
        calledBack();
        ++calls;
        if (calls % 64 == 0) rssMax = std::max(rssMax, rssKb());
      },
      notes);
  calledBack();
  double copySec = std::chrono::duration<double>(clock_type::now() - t0).count();
  const double copyCpu = cpuSeconds() - cpu0;
  rssMax = std::max(rssMax, rssKb());
  target.execute(part.commands.back());
  const auto& stats = part.job->stats();
  std::printf(
      "row copy: %lld rows (%lld refused) in %.2f s = %.0f rows/s; %d progress calls; "
      "%s; RSS %ld KB at start, at most %ld KB during the copy; client CPU %.2f s (%.0f ns/row)\n",
      stats.rows, stats.refused, copySec, stats.rows / copySec, calls,
      blocking ? "blocking calls"
               : ("waiting calls, " + std::to_string(waits) + " callbacks").c_str(),
      rssStart, rssMax, copyCpu, copyCpu * 1e9 / double(std::max(1LL, stats.rows)));
  std::printf("longest stretch without a call back during the copy: %.0f ms\n", longestGapMs);

  // Baseline: the same rows as a TSV file through LOAD DATA LOCAL INFILE.
  const std::string tsv = folder + "/bench.tsv";
  {
    std::ofstream out(tsv, std::ios::binary);
    ado::RecordSet rs;
    rs.open("SELECT * FROM \"bench\"", source);
    long long r = 0;
    for (; !rs.eof(); rs.moveNext(), ++r) {
      out << r;
      for (int k = 0; k < rs.fieldCount(); ++k) out << '\t' << tsvField(rs.value(k));
      out << '\n';
    }
  }
  std::vector<ado::FieldInfo> fields;
  {
    ado::RecordSet rs;
    rs.open("SELECT * FROM \"bench\"", source);
    for (int k = 0; k < rs.fieldCount(); ++k) fields.push_back(rs.field(k));
  }
  target.execute("DROP TABLE IF EXISTS `bench_load`");
  target.execute(MySqlScript::CreateCommand("bench_load", "tempid0", fields));
  target.close();

  MYSQL* m = mysql_init(nullptr);
  unsigned int local = 1;
  mysql_options(m, MYSQL_OPT_LOCAL_INFILE, &local);  // this connection only
  mysql_options(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  if (!mysql_real_connect(m, env("QM_MYSQL_HOST").c_str(), env("QM_MYSQL_USER").c_str(),
                          env("QM_MYSQL_PASSWORD").c_str(), env("QM_MYSQL_DATABASE").c_str(),
                          unsigned(std::stoul(env("QM_MYSQL_PORT"))), nullptr, 0)) {
    std::fprintf(stderr, "baseline connection: %s\n", mysql_error(m));
    return 1;
  }
  std::string load = "LOAD DATA LOCAL INFILE '" + tsv +
                     "' INTO TABLE `bench_load` CHARACTER SET utf8mb4 FIELDS TERMINATED BY '\\t' "
                     "ESCAPED BY '\\\\' LINES TERMINATED BY '\\n'";
  cpu0 = cpuSeconds();
  t0 = clock_type::now();
  if (mysql_query(m, load.c_str()) != 0) {
    std::fprintf(stderr, "LOAD DATA: %s\n", mysql_error(m));
    return 1;
  }
  double loadSec = std::chrono::duration<double>(clock_type::now() - t0).count();
  const double loadCpu = cpuSeconds() - cpu0;
  unsigned long long loaded = mysql_affected_rows(m);
  std::printf(
      "baseline LOAD DATA LOCAL INFILE: %llu rows in %.2f s = %.0f rows/s; client CPU %.2f s\n",
      loaded, loadSec, loaded / loadSec, loadCpu);
  std::printf("row copy / baseline = %.0f%%\n",
              100.0 * (stats.rows / copySec) / (loaded / loadSec));
  mysql_query(m, "DROP TABLE IF EXISTS `bench_load`");
  mysql_query(m, "DROP TABLE IF EXISTS `bench`");
  mysql_close(m);
  std::filesystem::remove_all(folder);
  return 0;
}
