// The Main module's path procedures that need no window, so the transfers use them too (the
// rest of module Main is in platform/main_module.h).
#pragma once

#include <QString>

namespace Main {

// The path up to and including its last separator ("\" or "/"); empty when there is none.
QString FolderOfPath(const QString& path);

}  // namespace Main
