#include "core/main_paths.h"

#include <algorithm>

namespace Main {

QString FolderOfPath(const QString& path) {
  qsizetype at = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
  return at < 0 ? QString() : path.left(at + 1);
}

}  // namespace Main
