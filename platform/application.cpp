#include "platform/application.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>
#include <random>
#include <stdexcept>

namespace platform {

namespace {

Application* g_current = nullptr;

class QtDesktop : public Desktop {
 public:
  void openUrl(const QString& url) override { QDesktopServices::openUrl(QUrl(url)); }
  void seedRandomFromTimeOfDay() override {
    generator_.seed(
        static_cast<std::mt19937::result_type>(QTime::currentTime().msecsSinceStartOfDay()));
  }
  double randomUniform() override {
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator_);
  }

 private:
  std::mt19937 generator_;
};

}  // namespace

Application::Application()
    : dialogs_(std::make_unique<QtDialogs>()),
      clipboard_(std::make_unique<QtClipboard>()),
      desktop_(std::make_unique<QtDesktop>()),
      programFolder_(QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                  : QString()) {
  if (g_current) throw std::logic_error("only one application object may exist at a time");
  // Installed, the program sits in bin/ and its pointer image and icon in share/quillmere/.
  if (!programFolder_.isEmpty() && !QFileInfo::exists(programFolder_ + "/HAND-M.CUR")) {
    const QString installed = programFolder_ + "/../share/quillmere";
    if (QFileInfo::exists(installed + "/HAND-M.CUR"))
      programFolder_ = QFileInfo(installed).canonicalFilePath();
  }
  g_current = this;
}

Application::~Application() {
  // Windows go first: their destructors may still reach services through current().
  windows_.clear();
  g_current = nullptr;
}

Application& Application::current() {
  if (!g_current) throw std::logic_error("no application object exists");
  return *g_current;
}

bool Application::exists() { return g_current != nullptr; }

QString Application::programFile(const QString& name) const {
  return programFolder_ + QLatin1Char('/') + name;
}

QIcon Application::icon() const {
  QString path = programFile(QStringLiteral("quillmere.png"));
  return QFileInfo::exists(path) ? QIcon(path) : QIcon();
}

void Application::quit() {
  ending_ = true;
  if (endProgram) {
    endProgram();
    return;
  }
  // Leaves the main loop and every modal loop stacked on it.
  QCoreApplication::exit(0);
}

}  // namespace platform
