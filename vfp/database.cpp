#include "vfp/database.h"

#include "vfp/dbc_catalog.h"
#include "vfp/error.h"

namespace vfp {

namespace {
ContainerOpener gContainerOpener = nullptr;
}  // namespace

void setContainerOpener(ContainerOpener opener) { gContainerOpener = opener; }

std::shared_ptr<TableCatalog> openCatalog(const std::string& source) {
  std::string s = source;
  while (s.size() > 1 && (s.back() == '/' || s.back() == '\\')) s.pop_back();
  if (s.empty()) throw Error("Invalid path or file name.");
  if (pathKind(s) == PathKind::Folder) return std::make_shared<FolderCatalog>(s);
  if (s.size() > 4 && equalsNoCase(s.substr(s.size() - 4), ".dbc")) {
    auto found = findPathNoCase(s);
    if (!found) throw Error("File '" + fileNameOf(s) + "' does not exist.");
    if (gContainerOpener) return gContainerOpener(*found);
    return std::make_shared<dbc::ContainerCatalog>(*found);
  }
  if (pathKind(s) == PathKind::None)
    throw Error("Invalid path or file name: '" + source + "' does not exist.");
  throw Error("'" + source +
              "' is neither a folder of free tables nor a database container (.dbc).");
}

}  // namespace vfp
