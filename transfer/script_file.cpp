#include "transfer/script_file.h"

#include <iconv.h>
#include <langinfo.h>

#include <QSaveFile>
#include <cerrno>
#include <cstdlib>

#include "core/error.h"

namespace transfer {

QByteArray ScriptFileCodeset(const QByteArray& localeCodeset, int maxBytesPerCharacter) {
  // The C locale reports ASCII; writing a script in it would turn every accented letter into
  // "?", so it counts as having no single-byte code page.
  const QByteArray upper = localeCodeset.toUpper();
  bool ascii = upper == "ANSI_X3.4-1968" || upper == "ASCII" || upper == "US-ASCII";
  if (maxBytesPerCharacter == 1 && !localeCodeset.isEmpty() && !ascii) return localeCodeset;
  return QByteArrayLiteral("UTF-8");
}

QByteArray ScriptFileCodeset() {
  return ScriptFileCodeset(QByteArray(nl_langinfo(CODESET)), static_cast<int>(MB_CUR_MAX));
}

QByteArray EncodeScriptText(const QString& text, const QByteArray& codeset, long long* replaced) {
  *replaced = 0;
  QByteArray utf8 = text.toUtf8();
  if (codeset.compare("UTF-8", Qt::CaseInsensitive) == 0 ||
      codeset.compare("UTF8", Qt::CaseInsensitive) == 0) {
    return utf8;
  }
  iconv_t cd = iconv_open(codeset.constData(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    throw platform::Error(QStringLiteral("The character set %1 is not known to this system.")
                              .arg(QString::fromLatin1(codeset)));
  }
  QByteArray out;
  out.resize(utf8.size() + 16);
  char* in = utf8.data();
  std::size_t inLeft = static_cast<std::size_t>(utf8.size());
  char* dst = out.data();
  std::size_t outLeft = static_cast<std::size_t>(out.size());
  while (inLeft > 0) {
    std::size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      // Single-byte output never needs more than the UTF-8 input; grow anyway to be safe.
      qsizetype used = dst - out.data();
      out.resize(out.size() * 2);
      dst = out.data() + used;
      outLeft = static_cast<std::size_t>(out.size() - used);
      continue;
    }
    // A character the code page cannot hold (or a broken sequence): one "?" for it.
    if (outLeft == 0) {
      qsizetype used = dst - out.data();
      out.resize(out.size() + 16);
      dst = out.data() + used;
      outLeft = static_cast<std::size_t>(out.size() - used);
    }
    *dst++ = '?';
    --outLeft;
    ++*replaced;
    std::size_t skip = 1;
    auto lead = static_cast<unsigned char>(*in);
    if (lead >= 0xF0) {
      skip = 4;
    } else if (lead >= 0xE0) {
      skip = 3;
    } else if (lead >= 0xC0) {
      skip = 2;
    }
    skip = std::min(skip, inLeft);
    in += skip;
    inLeft -= skip;
  }
  iconv_close(cd);
  out.resize(dst - out.data());
  return out;
}

long long SaveScriptFile(const QString& path, const QString& text) {
  long long replaced = 0;
  QByteArray bytes = EncodeScriptText(text, ScriptFileCodeset(), &replaced);
  // Written beside the target and renamed over it at the end, so a full disk leaves the old
  // file whole; where the folder allows no new file, the file itself is written.
  QSaveFile file(path);
  file.setDirectWriteFallback(true);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    throw platform::Error(
        QStringLiteral("Cannot write the file %1: %2").arg(path, file.errorString()));
  }
  return replaced;
}

QString SavedReplacementMessage(long long replaced) {
  return QStringLiteral(
             "The file was saved in the code page %1. %2 character(s) that it cannot hold were "
             "written as \"?\".")
      .arg(QString::fromLatin1(ScriptFileCodeset()))
      .arg(replaced);
}

}  // namespace transfer
