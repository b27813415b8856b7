// Benchmark: a script of a million lines in the preview window. Loading it into the editor,
// reading it back, finding and replacing in it, and executing it against a temporary folder of
// FoxPro free tables, with the longest stretch the window went without handling events during
// loading and replacing, and the peak memory.
//
//   QT_QPA_PLATFORM=offscreen bench_preview_million [lines=1000000] [folder=/tmp]
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/application.h"
#include "platform/dialogs.h"
#include "preview/form4.h"
#include "preview/form5.h"
#include "transfer/script_runner.h"

namespace {

// Answers every box at once, so the benchmark never waits for a person.
class SilentDialogs : public platform::QtDialogs {
 public:
  int messageBox(QWidget*, const QString& text, int, const QString&) override {
    lastMessage = text;
    return platform::vbOK;
  }
  QString lastMessage;
};

double peakMegabytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

// Processes events until the preview holds its whole script; returns the longest single pass,
// the time the window could not react.
double loadFully(Form4& form, double* longestMs) {
  QElapsedTimer total;
  total.start();
  *longestMs = 0;
  while (form.loading()) {
    QElapsedTimer one;
    one.start();
    QCoreApplication::processEvents();
    *longestMs = std::max(*longestMs, one.nsecsElapsed() / 1e6);
  }
  return total.nsecsElapsed() / 1e9;
}

// The longest stretch the event loop went unserved while it runs: a zero timer notes each time
// the loop comes round.
class GapWatch {
 public:
  GapWatch() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      longest_ = std::max(longest_, since_.nsecsElapsed() / 1e6);
      since_.restart();
    });
    since_.start();
    timer_.start(0);
  }
  double longestMs() {
    longest_ = std::max(longest_, since_.nsecsElapsed() / 1e6);
    return longest_;
  }

 private:
  QTimer timer_;
  QElapsedTimer since_;
  double longest_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication qapp(argc, argv);
  long lines = argc > 1 ? std::stol(argv[1]) : 1000000;
  std::string folder = (argc > 2 ? std::string(argv[2]) : std::string("/tmp")) + "/preview_bench";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);

  platform::Application app;
  auto dialogs = std::make_unique<SilentDialogs>();
  SilentDialogs* silent = dialogs.get();
  app.setDialogs(std::move(dialogs));
  app.connectionFields = [&] {
    platform::ConnectionFields f;
    f.useDbcFile = false;
    f.freeTableFolder = QString::fromStdString(folder);
    return f;
  };

  Form4 form;
  form.m_SendType = 0;
  QElapsedTimer t;
  t.start();
  form.AppendCommand(
      "CREATE TABLE [orders] ([id] I, [customer] C(20), [day] D, [city] C(20), [amount] "
      "N(10,2))");
  long long chars = 0;
  for (long i = 1; i < lines; ++i) {
    QString line = QStringLiteral(
                       "INSERT INTO [orders] VALUES(%1, 'Customer %2', {^2021-08-31}, 'Berlin', "
                       "12345.67)")
                       .arg(i)
                       .arg(i % 977);
    chars += line.size() + 2;
    form.AppendCommand(line);
  }
  std::printf("%ld lines, %.1f MB of text (%.0f characters a line)\n", lines, chars / 1e6,
              double(chars) / lines);
  std::printf("AppendCommand x %ld: %.2f s\n", lines, t.nsecsElapsed() / 1e9);

  t.restart();
  form.show();
  double showMs = t.nsecsElapsed() / 1e6;
  double longest = 0;
  double loadSeconds = loadFully(form, &longest);
  std::printf(
      "load into the editor: show() %.0f ms, then %.2f s of pieces (longest pass %.0f ms)\n",
      showMs, loadSeconds, longest);
  std::printf("peak memory after loading: %.0f MB\n", peakMegabytes());

  t.restart();
  QString script = form.Script();
  std::printf("Script(): %.2f s (%lld characters)\n", t.nsecsElapsed() / 1e9,
              static_cast<long long>(script.size()));
  script.clear();

  {
    QString whole = form.Script();
    t.restart();
    QString replaced = transfer::ReplaceAll(whole, "Berlin", "Hamburg");
    std::printf("ReplaceAll alone: %.2f s\n", t.nsecsElapsed() / 1e9);
  }
  t.restart();
  // Find and replace as the dialog does it: read, replace, write back, let the editor fill.
  t.restart();
  double replaceGap = 0;
  {
    Form5 dialog(form);
    dialog.show();
    dialog.Text1->setText("Berlin");
    dialog.Text2->setText("Hamburg");
    GapWatch watch;
    dialog.PushButton3_Click();
    replaceGap = watch.longestMs();
  }
  double replaceSeconds = t.nsecsElapsed() / 1e9;
  double reloadSeconds = loadFully(form, &longest);
  std::printf(
      "find and replace (Berlin -> Hamburg, %ld matches): %.2f s (longest the window went "
      "unanswered %.0f ms), editor refilled in %.2f s more (longest pass %.0f ms)\n",
      lines - 1, replaceSeconds, replaceGap, reloadSeconds, longest);
  std::printf("RESULT replace_gap_ms=%.0f reload_gap_ms=%.0f\n", replaceGap, longest);
  std::printf("peak memory after replacing: %.0f MB\n", peakMegabytes());

  t.restart();
  form.PushButton3_Click();
  double execSeconds = t.nsecsElapsed() / 1e9;
  std::printf(
      "execute against FoxPro (window, yielding before every line): %.2f s = %.0f "
      "lines/s; \"%s\"; notes: %s\n",
      execSeconds, lines / execSeconds, qPrintable(silent->lastMessage),
      qPrintable(form.Text1->toPlainText().left(200)));
  std::printf("peak memory: %.0f MB\n", peakMegabytes());
  std::filesystem::remove_all(folder);
  return 0;
}
