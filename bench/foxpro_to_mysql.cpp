// Benchmark: "Send Table/s To MySQL" of a FoxPro table shaped like the users' own (see
// typical_foxpro_table.h), with a primary key and a regular tag, the way users get it:
//   - through the window: the main window's send builds the script into the preview, and
//     "Execute SQL Commands Now" runs it to "Transfer finished." (timed from the click);
//   - through quillmere-transfer, run as a whole process and timed from start to exit;
// each classic and typed ("Keep types, keys and indexes", --typed: typed columns, the keys
// built after the rows) in the same run, next to LOAD DATA LOCAL INFILE of the same rows from a
// TSV file (the better of two loads). Rows that went row by row instead of in bulk are printed
// from the copy's notes and from the server's own counters (LOAD DATA statements run, chunks
// rolled back). Memory and the longest time the window's event loop went unserved are sampled
// during the Execute.
//
//   source /tmp/<sandbox>/env   # QM_MYSQL_HOST, _PORT, _USER, _PASSWORD, _DATABASE
//   bench_foxpro_to_mysql [rows=1000000] [folder=/tmp] [tool=<build>/tools/quillmere-transfer]
#include "transfer/foxpro_to_mysql.h"

#include <mysql.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "bench/bench_support.h"
#include "bench/bench_window.h"
#include "bench/typical_foxpro_table.h"
#include "core/connection_strings.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/ui.h"
#include "preview/form4.h"
#include "preview/send_tables.h"
#include "transfer/local_load.h"
#include "transfer/mysql_script.h"

namespace {

using namespace bench;

long rssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// The server's own count of LOAD DATA statements and of rollbacks (an undone chunk is one).
struct ServerCounts {
  long long loads = 0, rollbacks = 0;
  static ServerCounts now(MYSQL* m) {
    return {scalar(m, "SHOW GLOBAL STATUS LIKE 'Com_load'", 1),
            scalar(m, "SHOW GLOBAL STATUS LIKE 'Com_rollback'", 1)};
  }
};

// The lines of the notes that tell of rows sent otherwise than in bulk, or "none".
std::string fallbackLines(const std::string& notes) {
  std::string out;
  std::size_t at = 0;
  while (at < notes.size()) {
    std::size_t end = notes.find('\n', at);
    if (end == std::string::npos) end = notes.size();
    const std::string line = notes.substr(at, end - at);
    if (line.find("row by row") != std::string::npos ||
        line.find("INSERT statements") != std::string::npos)
      out += (out.empty() ? "" : " / ") + line;
    at = end + 1;
  }
  return out.empty() ? "none" : out;
}

// Answers every dialog at once; the preview is shown, loaded and executed, with times taken.
class BenchDialogs : public bench::YesDialogs {
 public:
  Clock::time_point clicked, executed;
  std::string report, notes;
  bool closed = false;
  std::function<void()> sample;
  int showModal(QDialog& dialog) override {
    auto& form = dynamic_cast<Form4&>(dialog);
    form.show();
    while (form.loading()) platform::DoEvents();
    report = form.Text1->toPlainText().toStdString();
    if (sample) sample();
    clicked = Clock::now();
    form.PushButton3_Click();
    executed = Clock::now();
    closed = !form.isVisible();
    if (!closed) notes = form.Text1->toPlainText().toStdString();
    form.hide();
    return 0;
  }
};

}  // namespace

// The window's and the tool's figures of one run of the send, classic or typed.
struct WindowFigures {
  long long rows = 0;
  double execute = 0, whole = 0;  // Execute to "Transfer finished."; button to closed
};

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  const std::string folder = std::string(argc > 2 ? argv[2] : "/tmp") + "/foxpro_to_mysql_bench";
  std::string tool = argc > 3 ? argv[3] : "";
  if (tool.empty()) {
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0)
      tool =
          (std::filesystem::path(self).parent_path().parent_path() / "tools" / "quillmere-transfer")
              .string();
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);

  // The table lives in a database container, so that typed sending has a primary key to make;
  // an empty container of the fixtures is copied in. Without one it is a free table whose
  // candidate tag becomes a UNIQUE key.
  std::string dbc;
  const std::filesystem::path container =
      std::filesystem::path(QM_FIXTURES_DIR) / "infused__dbf/spec/fixtures/foxprodb";
  if (std::filesystem::exists(container / "FOXPRO-DB-TEST.DBC")) {
    for (const auto& e : std::filesystem::directory_iterator(container))
      std::filesystem::copy_file(e.path(), std::filesystem::path(folder) / e.path().filename());
    dbc = folder + "/FOXPRO-DB-TEST.DBC";
  }
  const std::string source = dbc.empty() ? folder : dbc;
  const std::string fox =
      "Provider=vfpoledb.1;Data Source=" + source + ";Collating Sequence=general;";

  auto t0 = Clock::now();
  bench::MakeTypicalFoxproTable(source, rows);
  const double made = seconds(t0, Clock::now());
  t0 = Clock::now();
  bench::AddTypicalKeys(source, !dbc.empty());
  std::printf("FoxPro table of %ld rows made in %.1f s, its keys in %.1f s (dbf %.1f MB) %s\n",
              rows, made, seconds(t0, Clock::now()),
              std::filesystem::file_size(folder + "/bench.dbf") / 1e6,
              dbc.empty() ? "as a free table (no container found: candidate key, regular tag)"
                          : "in a container (primary key, regular tag)");

  MYSQL* admin = connect(false);
  run(admin, "DROP TABLE IF EXISTS `bench`");

  QApplication qt(argc, argv);
  platform::Application app;
  auto* dialogs = new BenchDialogs;
  app.setDialogs(std::unique_ptr<platform::Dialogs>(dialogs));
  platform::ConnectionFields fields;
  fields.useDbcFile = !dbc.empty();
  fields.dbcFile = QString::fromStdString(dbc);
  fields.freeTableFolder = QString::fromStdString(folder);
  fields.server = QString::fromStdString(env("QM_MYSQL_HOST"));
  fields.port = QString::fromStdString(env("QM_MYSQL_PORT"));
  fields.user = QString::fromStdString(env("QM_MYSQL_USER"));
  fields.password = QString::fromStdString(env("QM_MYSQL_PASSWORD"));
  fields.database = QString::fromStdString(env("QM_MYSQL_DATABASE"));
  app.connectionFields = [&] { return fields; };

  // ---- Through the window, classic then typed ("Keep types, keys and indexes") ----
  auto throughWindow = [&](bool typed) {
    const char* what = typed ? "typed window" : "window";
    run(admin, "DROP TABLE IF EXISTS `bench`");
    dialogs->report.clear();
    dialogs->notes.clear();
    bench::MainWindowParts parts;
    parts.view.typed = typed;
    bench::MainWindowParts::selectOnly(parts.list2, QStringLiteral("bench"));
    // The longest stretch in which the event loop did not serve a 5 ms timer during the
    // Execute, and the memory then; the same while the send makes the script and its report.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0, longestBuildGap = 0;
    long rssStart = 0, rssMax = 0;
    bool executing = false, building = false;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const qint64 gap = sinceTick.restart();
      if (building) longestBuildGap = std::max(longestBuildGap, gap);
      if (!executing) return;
      longestGap = std::max(longestGap, gap);
      rssMax = std::max(rssMax, rssKb());
    });
    dialogs->sample = [&] {
      building = false;
      rssStart = rssMax = rssKb();
      executing = true;
      sinceTick.restart();
    };
    sinceTick.start();
    tick.start();
    ServerCounts before = ServerCounts::now(admin);
    const auto start = Clock::now();
    building = true;
    sinceTick.restart();
    transfer::SendTablesToMySql(parts.view);
    const auto end = Clock::now();
    executing = false;
    tick.stop();
    ServerCounts after = ServerCounts::now(admin);
    WindowFigures w;
    w.execute = seconds(dialogs->clicked, dialogs->executed);
    w.whole = seconds(start, end);
    w.rows = scalar(admin, "SELECT COUNT(*) FROM `bench`");
    std::printf(
        "%s: Execute to \"%s\": %lld rows in %.2f s = %.0f rows/s; button to closed %.2f s; "
        "window %s after the run\n",
        what, dialogs->lastMessage.c_str(), w.rows, w.execute, w.rows / w.execute, w.whole,
        dialogs->closed ? "closed" : "stayed open");
    std::printf("%s: LOAD DATA statements %lld, chunks rolled back %lld; went row by row: %s\n",
                what, after.loads - before.loads, after.rollbacks - before.rollbacks,
                fallbackLines(dialogs->notes).c_str());
    std::printf("%s: RSS %ld KB at the click, at most %ld KB during the Execute\n", what, rssStart,
                rssMax);
    std::printf("%s: longest unserved event-loop gap while the script was made: %lld ms\n", what,
                static_cast<long long>(longestBuildGap));
    std::printf("%s: longest unserved event-loop gap during the Execute: %lld ms\n", what,
                static_cast<long long>(longestGap));
    std::printf("%s: report before Execute:\n%s\n", what, dialogs->report.c_str());
    return w;
  };
  const WindowFigures window = throughWindow(false);
  const long long windowRows = window.rows;
  const double windowExecute = window.execute;
  const WindowFigures typedWindow = throughWindow(true);
  if (typedWindow.rows == rows) {
    // What typed sending made, as the server has it.
    std::printf("typed window: keys: %lld index columns, %s\n",
                scalar(admin,
                       "SELECT COUNT(*) FROM information_schema.STATISTICS WHERE TABLE_SCHEMA = "
                       "DATABASE() AND TABLE_NAME = 'bench'"),
                scalar(admin,
                       "SELECT COUNT(*) FROM information_schema.STATISTICS WHERE TABLE_SCHEMA = "
                       "DATABASE() AND TABLE_NAME = 'bench' AND INDEX_NAME = 'PRIMARY'") > 0
                    ? "with a PRIMARY KEY"
                    : "no PRIMARY KEY");
  }
  std::printf("typed / classic, window Execute: %.2f; button to closed: %.2f\n",
              typedWindow.execute / window.execute, typedWindow.whole / window.whole);

  // ---- Through quillmere-transfer, the whole process, classic then typed ----
  QTemporaryDir config;  // no stored settings: everything comes from the command line
  auto throughTool = [&](bool typed) {
    const char* what = typed ? "typed tool" : "tool";
    run(admin, "DROP TABLE IF EXISTS `bench`");
    QProcess p;
    QProcessEnvironment penv = QProcessEnvironment::systemEnvironment();
    penv.insert("XDG_CONFIG_HOME", config.path());
    p.setProcessEnvironment(penv);
    QStringList args{"--to-mysql",       "--foxpro",      QString::fromStdString(source),
                     "--mysql-server",   fields.server,   "--mysql-port",
                     fields.port,        "--mysql-user",  fields.user,
                     "--mysql-password", fields.password, "--mysql-database",
                     fields.database,    "bench"};
    if (typed) args.prepend("--typed");
    const ServerCounts before = ServerCounts::now(admin);
    const auto start = Clock::now();
    p.start(QString::fromStdString(tool), args);
    p.waitForFinished(-1);
    const double sec = seconds(start, Clock::now());
    const ServerCounts after = ServerCounts::now(admin);
    const std::string out = p.readAllStandardOutput().toStdString();
    const long long arrived = scalar(admin, "SELECT COUNT(*) FROM `bench`");
    std::printf("%s: whole process: %lld rows in %.2f s = %.0f rows/s; exit status %d\n", what,
                arrived, sec, arrived / sec,
                p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1);
    std::printf("%s: LOAD DATA statements %lld, chunks rolled back %lld; went row by row: %s\n",
                what, after.loads - before.loads, after.rollbacks - before.rollbacks,
                fallbackLines(out).c_str());
    return std::pair<long long, double>(arrived, sec);
  };
  const auto [toolRows, toolSec] = throughTool(false);
  const auto typedTool = throughTool(true);
  std::printf("typed / classic, tool whole process: %.2f\n", typedTool.second / toolSec);

  // ---- Baseline: the same rows as a TSV file through LOAD DATA LOCAL INFILE ----
  const std::string tsv = folder + "/bench.tsv";
  std::vector<ado::FieldInfo> columns;
  {
    std::ofstream out(tsv, std::ios::binary);
    ado::Connection source;
    source.open(fox);
    ado::RecordSet rs;
    rs.open("SELECT * FROM \"bench\"", source);
    for (int k = 0; k < rs.fieldCount(); ++k) columns.push_back(rs.field(k));
    // The rows in the very text the copy sends, so that the baseline differs from it only in
    // how the text reaches the server.
    std::vector<ado::Value> row(rs.fieldCount());
    std::string line;
    for (long long r = 0; !rs.eof(); rs.moveNext(), ++r) {
      for (int k = 0; k < rs.fieldCount(); ++k) row[k] = rs.value(k);
      line = std::to_string(r) + '\t';
      transfer::AppendLoadLine(line, row.data(), row.size());
      out << line;
    }
  }
  MYSQL* m = connect(true);
  const std::string load = "LOAD DATA LOCAL INFILE '" + tsv +
                           "' INTO TABLE `bench_load` CHARACTER SET utf8mb4 FIELDS TERMINATED BY "
                           "'\\t' ESCAPED BY '\\\\' LINES TERMINATED BY '\\n'";
  double loadSec = 1e9;
  unsigned long long loaded = 0;
  unsigned warnings = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    run(m, "DROP TABLE IF EXISTS `bench_load`");
    run(m, MySqlScript::CreateCommand("bench_load", "tempid0", columns));
    t0 = Clock::now();
    if (mysql_query(m, load.c_str()) != 0) {
      std::fprintf(stderr, "LOAD DATA: %s\n", mysql_error(m));
      return 1;
    }
    loadSec = std::min(loadSec, seconds(t0, Clock::now()));
    loaded = mysql_affected_rows(m);
    warnings = mysql_warning_count(m);
  }
  std::printf("baseline LOAD DATA LOCAL INFILE: %llu rows in %.2f s = %.0f rows/s (%u warnings)\n",
              loaded, loadSec, loaded / loadSec, warnings);
  const double baseRate = loaded / loadSec;
  std::printf("window / baseline = %.0f%%; tool / baseline = %.0f%%\n",
              100.0 * (windowRows / windowExecute) / baseRate,
              100.0 * (toolRows / toolSec) / baseRate);
  run(m, "DROP TABLE IF EXISTS `bench_load`");
  run(m, "DROP TABLE IF EXISTS `bench`");
  mysql_close(m);
  mysql_close(admin);
  std::filesystem::remove_all(folder);
  return 0;
}
