#include "core/error.h"

#include <exception>

namespace platform {

QString CurrentExceptionDescription() {
  try {
    throw;
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
}

}  // namespace platform
