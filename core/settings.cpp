#include "core/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <memory>

namespace platform::Settings {

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

std::unique_ptr<QSettings> store() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                     QLatin1String(kOrganisation), QLatin1String(kApplication));
}

QString keyPath(const QString& key) { return QLatin1String(kSection) + QLatin1Char('/') + key; }

// The file holds the password: create it owner-only before anything is written into it (the
// store rewrites it through a temporary file that keeps the existing permissions), and tighten
// a file left by an earlier version.
void makeOwnerOnly(const QString& path) {
  QFileInfo info(path);
  if (!info.exists()) {
    QDir().mkpath(info.absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly);
  }
  QFile file(path);
  if ((file.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser)) != kOwnerOnly) {
    file.setPermissions(kOwnerOnly);
  }
}

}  // namespace

QString value(const QString& key, const QString& fallback) {
  return store()->value(keyPath(key), fallback).toString();
}

bool contains(const QString& key) { return store()->contains(keyPath(key)); }

void setValue(const QString& key, const QString& text) {
  auto s = store();
  makeOwnerOnly(s->fileName());
  s->setValue(keyPath(key), text);
  s->sync();
  makeOwnerOnly(s->fileName());
}

QString fileName() { return store()->fileName(); }

}  // namespace platform::Settings
