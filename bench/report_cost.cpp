// Benchmark: what the report before Execute costs, in each direction, as a share of that
// direction's whole transfer measured in the same run.
//
// MySQL to FoxPro: the script of a table of ten typical columns (including NULLs and text
// outside code page 1252) is built four times without the report and four times with it; the whole
// transfer is the build with the report plus executing the script into a free table.
// FoxPro to MySQL: the report reads the FoxPro table once (FoxproTableReport); the whole transfer
// is the report, the script and the row copy into MySQL.
//
//   source /tmp/<sandbox>/env   # QM_MYSQL_HOST, _PORT, _ADMIN_USER, _ADMIN_PASSWORD
//   bench_report_cost [rows=1000000] [folder=/tmp]
#include <mysql.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "ado/mysql_session.h"
#include "bench/bench_support.h"
#include "transfer/foxpro_to_mysql.h"
#include "transfer/mysql_script.h"
#include "transfer/mysql_to_foxpro.h"
#include "vfp/session.h"

namespace {

using bench::Clock;
using bench::env;
using bench::run;
using bench::seconds;

std::string mysqlConnection(const std::string& database) {
  return "DRIVER={MySQL ODBC 3.51 Driver};SERVER=" + env("QM_MYSQL_HOST") +
         ";PORT=" + env("QM_MYSQL_PORT") + ";DATABASE=" + database +
         ";USER=" + env("QM_MYSQL_ADMIN_USER") + ";PASSWORD=" + env("QM_MYSQL_ADMIN_PASSWORD") +
         ";OPTION=3;";
}

transfer::FoxproScriptHooks hooks(long long& commands, bool report, std::string& text) {
  transfer::FoxproScriptHooks h;
  h.targetHas = [](const std::string&) { return false; };
  h.confirmOverwrite = [](const std::string&) { return true; };
  h.renameNumericColumn = [](const std::string& n) { return "n" + n; };
  h.progress = [](long long, long long) {};
  h.tableDropped = [](const std::string&) {};
  h.tableScripted = [](const std::string&) {};
  h.command = [&commands](std::string_view) { ++commands; };
  if (report) h.report = [&text](const std::string& r) { text = r; };
  return h;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  const std::string folder = std::string(argc > 2 ? argv[2] : "/tmp") + "/report_cost_bench";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder + "/tofox");
  std::filesystem::create_directories(folder + "/fromfox");

  MYSQL* m = mysql_init(nullptr);
  if (!mysql_real_connect(m, env("QM_MYSQL_HOST").c_str(), env("QM_MYSQL_ADMIN_USER").c_str(),
                          env("QM_MYSQL_ADMIN_PASSWORD").c_str(), nullptr,
                          unsigned(std::stoul(env("QM_MYSQL_PORT"))), nullptr, 0)) {
    std::fprintf(stderr, "connect: %s\n", mysql_error(m));
    return 1;
  }
  mysql_set_character_set(m, "utf8mb4");
  run(m, "CREATE DATABASE IF NOT EXISTS qm_bench_report");
  run(m, "USE qm_bench_report");
  run(m, "DROP TABLE IF EXISTS bench");
  run(m,
      "CREATE TABLE bench (id INT PRIMARY KEY, customer VARCHAR(40), city VARCHAR(30), "
      "amount DECIMAL(10,2), day DATE, stamp DATETIME, qty INT NULL, ratio DOUBLE, flag TINYINT, "
      "note VARCHAR(60)) DEFAULT CHARSET=utf8mb4");
  run(m,
      "INSERT INTO bench SELECT seq, CONCAT('Customer ', seq % 977), "
      "ELT(1 + seq % 4, 'Berlin', 'Köln', 'Москва', 'Oslo'), (seq % 100000) / 100, "
      "'2021-08-31' - INTERVAL (seq % 3650) DAY, '2021-08-31 12:34:56' - INTERVAL seq SECOND, "
      "IF(seq % 10 = 0, NULL, seq % 50), seq / 7, seq % 2, "
      "RPAD(CONCAT('It''s note ', seq, ' with +''quotes''+ inside '), 60, '.') "
      "FROM seq_1_to_" +
          std::to_string(rows));
  run(m, "DROP TABLE IF EXISTS fromfox");
  mysql_close(m);

  // ---- MySQL to FoxPro ----
  double without = 1e9, with = 1e9;
  long long commands = 0;
  std::string report;
  // Alternating runs, the best of each kind: a busy moment of the machine must not count as
  // the report's cost (or hide it).
  for (int attempt = 0; attempt < 4; ++attempt)
    for (bool examine : {attempt % 2 == 0, attempt % 2 != 0}) {
      ado::Connection mysql;
      transfer::OpenSourceConnection(mysql, mysqlConnection("qm_bench_report"));
      commands = 0;
      auto t0 = Clock::now();
      transfer::BuildFoxproScript(mysql, {"bench"}, folder + "/tofox/",
                                  hooks(commands, examine, report));
      double t = seconds(t0, Clock::now());
      (examine ? with : without) = std::min(examine ? with : without, t);
    }
  // Executing the script: the same commands, run through the engine as the preview does.
  std::vector<std::string> script;
  {
    ado::Connection mysql;
    transfer::OpenSourceConnection(mysql, mysqlConnection("qm_bench_report"));
    auto h = hooks(commands, false, report);
    h.command = [&script](std::string_view c) { script.emplace_back(c); };
    transfer::BuildFoxproScript(mysql, {"bench"}, folder + "/tofox/", h);
  }
  auto e0 = Clock::now();
  {
    ado::Connection fox;
    fox.open("Provider=vfpoledb.1;Data Source=" + folder + "/tofox;Collating Sequence=general;");
    for (const auto& line : script) fox.execute(line);
    fox.close();
  }
  const double execute = seconds(e0, Clock::now());
  script.clear();
  script.shrink_to_fit();
  const double toFoxWhole = with + execute;
  const double toFoxReport = std::max(0.0, with - without);

  // ---- FoxPro to MySQL ----
  const std::string foxFolder = folder + "/tofox";
  const std::string foxCs =
      "Provider=vfpoledb.1;Data Source=" + foxFolder + ";Collating Sequence=general;";
  // The table just written by the engine is the source: memo columns throughout, so the report
  // also reads a table of typed fields made here.
  {
    vfp::Session s(std::make_shared<vfp::FolderCatalog>(folder + "/fromfox"));
    s.execute(
        "CREATE TABLE typed (id I, name V(20), amount N(12,2), day D, stamp T, cost Y, "
        "ratio B, flag L, note M)");
    for (long r = 0; r < rows; ++r) {
      const std::string n = std::to_string(r);
      s.execute("INSERT INTO typed VALUES (" + n + ", 'Customer " + std::to_string(r % 977) +
                "', '" + std::to_string(r % 100000) + ".25', " + (r % 10 ? "{^2021-08-31}" : "{}") +
                ", {^2021-08-31 12:34:56}, 1.5, " + n + ".5, " + (r % 2 ? ".T." : ".F.") +
                ", 'A note, it''s')");
    }
    s.flush();
  }
  const std::string typedCs =
      "Provider=vfpoledb.1;Data Source=" + folder + "/fromfox;Collating Sequence=general;";
  ado::Connection fox;
  fox.setCursorLocation(ado::adUseClient);
  fox.open(typedCs);
  auto w0 = Clock::now();
  transfer::TableScript part = transfer::ScriptTable(fox, typedCs, "typed", false);
  const double scriptWithReport = seconds(w0, Clock::now());
  fox.close();
  std::vector<ado::FieldInfo> fields;
  {
    ado::Connection c;
    c.open(typedCs);
    ado::RecordSet rs;
    rs.open("SELECT * FROM typed", c);
    for (int k = 0; k < rs.fieldCount(); ++k) fields.push_back(rs.field(k));
  }
  double fromFoxReport = 1e9;
  std::vector<std::string> lines;
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto r0 = Clock::now();
    lines = transfer::FoxproTableReport(typedCs, "typed", fields);
    fromFoxReport = std::min(fromFoxReport, seconds(r0, Clock::now()));
  }
  auto c0 = Clock::now();
  {
    ado::Connection target;
    target.open(mysqlConnection("qm_bench_report"));
    target.execute("DROP TABLE IF EXISTS typed");
    std::vector<std::string> notes;
    for (const auto& line : part.commands) {
      target.execute(line);
      if (part.job->runsAfter(line)) part.job->run(target, {}, notes);
    }
    target.close();
  }
  const double copy = seconds(c0, Clock::now());
  const double fromFoxWhole = scriptWithReport + copy;

  std::printf("rows: %ld\n", rows);
  std::printf("MySQL->FoxPro: build %.2f s without report, %.2f s with; execute %.2f s\n", without,
              with, execute);
  std::printf("MySQL->FoxPro: report %.2f s of %.2f s whole = %.1f%%\n", toFoxReport, toFoxWhole,
              100.0 * toFoxReport / toFoxWhole);
  std::printf(
      "FoxPro->MySQL: report %.2f s of %.2f s whole (script %.2f s, copy %.2f s) = %.1f%%\n",
      fromFoxReport, fromFoxWhole, scriptWithReport, copy, 100.0 * fromFoxReport / fromFoxWhole);
  std::printf("report MySQL->FoxPro:\n%s\nreport FoxPro->MySQL:\n%s\n", report.c_str(),
              transfer::FoxproToMySqlReport({{"typed", lines}}).c_str());
  (void)foxCs;
  std::filesystem::remove_all(folder);
  return 0;
}
