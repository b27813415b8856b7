// Benchmark: "Send Table/s To FoxPro" of one large table, from the button to "Transfer
// finished.": building the script, loading it into the preview, executing it into a free table.
// The plain fetch of the same table with Connector/C (SELECT *, every row read) is measured in
// the same run as the baseline, and every figure is also given as a ratio to it. The longest
// time the event loop went unserved (a 5 ms timer's largest gap) shows whether the window froze.
//
//   bench_mysql_to_foxpro [rows=1000000] [folder=/tmp] [classic|typed]
//
// "typed" sends as the window does with "Keep types, keys and indexes" ticked: typed fields,
// typed literals, the primary key a candidate tag made after the rows.
//
// The MariaDB comes from the environment (QM_MYSQL_HOST, _PORT, _ADMIN_USER, _ADMIN_PASSWORD)
// or from the sandbox's env file ($QM_SANDBOX_DIR/env, else /tmp/quillmere-mysql-<uid>/env).
// The table is made once in database qm_bench_tofox and reused while it has the row count.
#include "transfer/mysql_to_foxpro.h"

#include <mysql.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QListWidget>
#include <QProgressBar>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "bench/bench_window.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/ui.h"
#include "preview/form4.h"
#include "preview/send_tables.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// CPU time the calling thread has run.
qint64 threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<qint64>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

long peakMegabytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

std::map<std::string, std::string> sandboxSettings() {
  std::map<std::string, std::string> out;
  for (const char* k :
       {"QM_MYSQL_HOST", "QM_MYSQL_PORT", "QM_MYSQL_ADMIN_USER", "QM_MYSQL_ADMIN_PASSWORD"})
    if (const char* v = std::getenv(k)) out[k] = v;
  if (out.size() == 4) return out;
  std::string dir = std::getenv("QM_SANDBOX_DIR")
                        ? std::getenv("QM_SANDBOX_DIR")
                        : "/tmp/quillmere-mysql-" + std::to_string(getuid());
  std::ifstream env(dir + "/env");
  for (std::string line; std::getline(env, line);) {
    if (line.rfind("export ", 0) == 0) line = line.substr(7);
    auto eq = line.find('=');
    if (eq != std::string::npos) out.emplace(line.substr(0, eq), line.substr(eq + 1));
  }
  return out;
}

[[noreturn]] void die(MYSQL* m, const char* what) {
  std::fprintf(stderr, "%s: %s\n", what, m ? mysql_error(m) : "no connection");
  std::exit(1);
}

void run(MYSQL* m, const std::string& sql) {
  if (mysql_real_query(m, sql.data(), sql.size()) != 0) die(m, sql.c_str());
  if (MYSQL_RES* r = mysql_store_result(m)) mysql_free_result(r);
}

long long countRows(MYSQL* m) {
  if (mysql_query(m, "SELECT COUNT(*) FROM bench") != 0) return -1;
  MYSQL_RES* r = mysql_store_result(m);
  long long n = -1;
  if (MYSQL_ROW row = mysql_fetch_row(r)) n = std::atoll(row[0]);
  mysql_free_result(r);
  return n;
}

// Ten typical columns; the note is 60 characters with quotes, "+" beside them and a line break.
void makeTable(MYSQL* m, long rows) {
  if (countRows(m) == rows) return;
  run(m, "DROP TABLE IF EXISTS bench");
  run(m,
      "CREATE TABLE bench (id INT PRIMARY KEY, customer VARCHAR(40), city VARCHAR(30), "
      "amount DECIMAL(10,2), day DATE, stamp DATETIME, qty INT, ratio DOUBLE, flag TINYINT, "
      "note VARCHAR(60))");
  run(m,
      "INSERT INTO bench SELECT seq, CONCAT('Customer ', seq % 977), "
      "ELT(1 + seq % 4, 'Berlin', 'Koeln', 'Paris', 'Oslo'), (seq % 100000) / 100, "
      "'2021-08-31' - INTERVAL (seq % 3650) DAY, '2021-08-31 12:34:56' - INTERVAL seq SECOND, "
      "seq % 50, seq / 7, seq % 2, "
      "RPAD(CONCAT('It''s note ', seq, CHAR(13, 10), 'with +''quotes''+ inside '), 60, '.') "
      "FROM seq_1_to_" +
          std::to_string(rows));
}

// Answers every dialog at once; the preview is shown, loaded and executed, with times taken.
class BenchDialogs : public bench::YesDialogs {
 public:
  Clock::time_point shown, loaded, executed;
  long peakAtPreview = 0;
  int showModal(QDialog& dialog) override {
    shown = Clock::now();
    peakAtPreview = peakMegabytes();
    auto& form = dynamic_cast<Form4&>(dialog);
    form.show();
    while (form.loading()) platform::DoEvents();
    loaded = Clock::now();
    form.PushButton3_Click();
    executed = Clock::now();
    form.hide();
    return 0;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  const bool typed = argc > 3 && std::string(argv[3]) == "typed";
  const std::string folder = std::string(argc > 2 ? argv[2] : "/tmp") + "/mysql_to_foxpro_bench" +
                             (typed ? "_typed" : "");
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  auto s = sandboxSettings();
  const std::string host = s["QM_MYSQL_HOST"], port = s["QM_MYSQL_PORT"],
                    user = s["QM_MYSQL_ADMIN_USER"], password = s["QM_MYSQL_ADMIN_PASSWORD"];
  MYSQL* m = mysql_init(nullptr);
  if (!mysql_real_connect(m, host.c_str(), user.c_str(), password.c_str(), nullptr,
                          unsigned(std::stoul(port.empty() ? "0" : port)), nullptr, 0))
    die(m, "connect");
  mysql_set_character_set(m, "utf8mb4");
  run(m, "CREATE DATABASE IF NOT EXISTS qm_bench_tofox");
  run(m, "USE qm_bench_tofox");
  makeTable(m, rows);

  // Baseline: every row of SELECT * fetched with Connector/C, the better of two fetches, so a
  // busy moment of the machine does not flatter the ratios. Rows are streamed, as the transfer
  // reads them: a stored result would leave the whole table in this process's peak memory.
  double baseline = 1e9;
  unsigned long long bytes = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto b0 = Clock::now();
    if (mysql_query(m, "SELECT * FROM bench") != 0) die(m, "select");
    MYSQL_RES* res = mysql_use_result(m);
    bytes = 0;
    const unsigned nf = mysql_num_fields(res);
    while (MYSQL_ROW r = mysql_fetch_row(res)) {
      unsigned long* len = mysql_fetch_lengths(res);
      for (unsigned i = 0; i < nf; ++i) bytes += r[i] ? len[i] : 0;
    }
    mysql_free_result(res);
    baseline = std::min(baseline, seconds(b0, Clock::now()));
  }
  mysql_close(m);
  const long peakBefore = peakMegabytes();

  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);

  QApplication qt(argc, argv);
  platform::Application app;
  auto* dialogs = new BenchDialogs;
  app.setDialogs(std::unique_ptr<platform::Dialogs>(dialogs));
  platform::ConnectionFields fields;
  fields.useDbcFile = false;
  fields.freeTableFolder = QString::fromStdString(folder);
  fields.server = QString::fromStdString(host);
  fields.port = QString::fromStdString(port);
  fields.user = QString::fromStdString(user);
  fields.password = QString::fromStdString(password);
  fields.database = QStringLiteral("qm_bench_tofox");
  app.connectionFields = [&] { return fields; };

  bench::MainWindowParts parts;
  parts.view.typed = typed;
  bench::MainWindowParts::selectOnly(parts.list1, QStringLiteral("bench"));

  // The longest stretch in which the event loop did not serve a 5 ms timer.
  Clock::time_point t0 = Clock::now();
  QElapsedTimer sinceTick;
  qint64 longestGap = 0;
  Clock::time_point longestGapEnd;
  QTimer tick;
  tick.setInterval(5);
  // When each gap over 100 ms ended, how long it was, and how much of it the window's thread
  // spent running: a gap it mostly ran through is the program's own; one it mostly waited
  // through is the machine's (other processes had the cores), or a blocking call.
  struct LongGap {
    double at;
    qint64 gap;
    qint64 ran;
  };
  std::vector<LongGap> longGaps;
  qint64 cpuAtTick = threadCpuMs();
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 gap = sinceTick.restart();
    const qint64 cpu = threadCpuMs();
    if (gap > 100 && longGaps.size() < 20)
      longGaps.push_back({seconds(t0, Clock::now()), gap, cpu - cpuAtTick});
    cpuAtTick = cpu;
    if (gap > longestGap) {
      longestGap = gap;
      longestGapEnd = Clock::now();
    }
  });
  sinceTick.start();
  tick.start();

  t0 = Clock::now();
  transfer::SendTablesToFoxpro(parts.view);
  auto t1 = Clock::now();
  longestGap = std::max(longestGap, sinceTick.elapsed());

  const double build = seconds(t0, dialogs->shown), load = seconds(dialogs->shown, dialogs->loaded),
               execute = seconds(dialogs->loaded, dialogs->executed), whole = seconds(t0, t1);
  std::printf("%s script\n", typed ? "typed" : "classic");
  std::printf("rows %ld, fetched bytes %llu, last message \"%s\"\n", rows, bytes,
              dialogs->lastMessage.c_str());
  std::printf("baseline SELECT * fetch (Connector/C) %8.2f s   1.00x\n", baseline);
  std::printf("build script into preview             %8.2f s %6.2fx\n", build, build / baseline);
  std::printf("load preview editor                   %8.2f s %6.2fx\n", load, load / baseline);
  std::printf("execute script into FoxPro            %8.2f s %6.2fx\n", execute,
              execute / baseline);
  std::printf("whole run, button to relisted         %8.2f s %6.2fx\n", whole, whole / baseline);
  const char* phase = longestGapEnd < dialogs->shown      ? "building"
                      : longestGapEnd < dialogs->loaded   ? "loading"
                      : longestGapEnd < dialogs->executed ? "executing"
                                                          : "relisting";
  std::printf("longest unserved event-loop gap       %8lld ms, ending while %s\n",
              static_cast<long long>(longestGap), phase);
  for (const auto& g : longGaps)
    std::printf(
        "  gap of %lld ms ending %.2f s after the button (the window's thread ran %lld ms)\n",
        static_cast<long long>(g.gap), g.at, static_cast<long long>(g.ran));
  std::printf(
      "peak memory: %ld MB after baseline, %ld MB when the preview opens, %ld MB after the run\n",
      peakBefore, dialogs->peakAtPreview, peakMegabytes());
  std::printf("FoxPro list after the run: %d entries\n", parts.list2.count());
  return dialogs->lastMessage == "Transfer finished." ? 0 : 1;
}
