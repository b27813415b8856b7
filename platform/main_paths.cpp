// The Main module's path procedures that need no window, so the transfers use them too.
#include <algorithm>

#include "platform/main_module.h"

namespace Main {

QString FolderOfPath(const QString& path) {
  qsizetype at = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
  return at < 0 ? QString() : path.left(at + 1);
}

}  // namespace Main
