#include "platform/main_module.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QWidget>

#include "platform/application.h"
#include "platform/error_trap.h"
#include "platform/ui.h"

namespace Main {

bool ListContains(const QListWidget& list, const QString& text) {
  bool found = false;
  for (int i = 0; i < list.count(); ++i) {
    if (list.item(i)->text().toLower() == text.toLower()) found = true;
  }
  return found;
}

void RemoveListItem(QListWidget& list, const QString& text) {
  for (int i = list.count() - 1; i >= 0; --i) {
    if (list.item(i)->text() == text) delete list.takeItem(i);
  }
}

ado::Value IfNull(const ado::Value& value, const ado::Value& substitute) {
  return value.isNull() ? substitute : value;
}

bool FileExists(const QString& path) {
  if (path.isEmpty()) return false;
  QFileInfo info(path);
  return info.exists() && info.lastModified().isValid();
}

void ForceDeleteFile(const QString& path) {
  QFile file(path);
  file.setPermissions(file.permissions() | QFileDevice::WriteOwner | QFileDevice::WriteUser);
  if (!file.remove()) {
    throw platform::Error(QStringLiteral("Could not delete ") + path + QStringLiteral(": ") +
                          file.errorString());
  }
}

void KillFile(const QString& path) {
  platform::DoEvents();
  if (QFile::remove(path)) return;
  try {
    ForceDeleteFile(path);
  } catch (...) {
    // A file that is missing, or cannot go, is the caller's business to notice later.
  }
}

namespace {

void colourFormParts(QWidget& window, const QColor& colour) {
  platform::SetBackground(window, colour);
  for (QWidget* child : window.findChildren<QWidget*>()) {
    if (qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child) ||
        qobject_cast<QGroupBox*>(child) || qobject_cast<QLabel*>(child)) {
      platform::SetBackground(*child, colour);
    }
  }
}

}  // namespace

void ApplySkin(QWidget& window) {
  QString skin = platform::Application::current().programFile(QLatin1String(kSkinFile));
  if (!FileExists(skin)) return;
  colourFormParts(window, platform::ButtonFaceColour());
  QFile file(skin);
  if (!file.open(QIODevice::ReadOnly)) {
    throw platform::Error(QStringLiteral("Could not load the skin ") + skin + QStringLiteral(": ") +
                          file.errorString());
  }
  window.setStyleSheet(QString::fromUtf8(file.readAll()));
}

void ApplyFormColors(QWidget& window) { colourFormParts(window, platform::ButtonFaceColour()); }

QString ShortTitle(const QString& productTitle) {
  QString title = productTitle;
  if (!title.contains(QLatin1Char(' '))) {
    return title.left(kTitleLengthLimit);
  }
  do {
    qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
    if (blank < 0) return title.left(kTitleLengthLimit);
    title = title.left(blank);
  } while (title.size() > kTitleLengthLimit);
  return title;
}

void SetShortTitle() {
  platform::Application::current().setTitle(ShortTitle(QLatin1String(kProductTitle)));
}

void VisitWebSiteAtRandom() {
  auto& desktop = platform::Application::current().desktop();
  desktop.seedRandomFromTimeOfDay();
  int drawn = static_cast<int>(desktop.randomUniform() * 100) + 1;
  if (drawn == 7) desktop.openUrl(QLatin1String(kMakersSite));
}

void ClearClipboard() {
  auto& clipboard = platform::Application::current().clipboard();
  for (int attempt = 0; attempt < kClipboardAttempts; ++attempt) {
    try {
      if (clipboard.tryClear()) return;
    } catch (...) {
    }
  }
}

bool CopyTextToClipboard(const QString& text, int format) {
  auto& clipboard = platform::Application::current().clipboard();
  for (int attempt = 0; attempt < kClipboardAttempts; ++attempt) {
    try {
      if (clipboard.trySetText(text, format)) return true;
    } catch (...) {
    }
  }
  return false;
}

}  // namespace Main
