#include "platform/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace platform {

QString clipboardFormatMimeType(int format) {
  return QStringLiteral("application/x-clipboard-format-%1").arg(format);
}

bool QtClipboard::tryClear() {
  QClipboard* cb = QGuiApplication::clipboard();
  if (!cb) return false;
  cb->clear();
  const QMimeData* data = cb->mimeData();
  return !data || data->formats().isEmpty();
}

bool QtClipboard::trySetText(const QString& text, int format) {
  QClipboard* cb = QGuiApplication::clipboard();
  if (!cb) return false;
  if (format == 0) {
    cb->setText(text);
    return cb->text() == text;
  }
  auto* data = new QMimeData;
  QString mime = clipboardFormatMimeType(format);
  data->setData(mime, text.toUtf8());
  cb->setMimeData(data);
  const QMimeData* now = cb->mimeData();
  return now && now->hasFormat(mime) && now->data(mime) == text.toUtf8();
}

}  // namespace platform
