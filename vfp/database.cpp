#include "vfp/database.h"

#include "vfp/dbc_catalog.h"
#include "vfp/error.h"

namespace vfp {

namespace {
ContainerOpener gContainerOpener = nullptr;

bool isMemberOf(const std::string& tablePath, const std::string& dbcName) {
  try {
    Table t(tablePath);
    return equalsNoCase(fileNameOf(t.header().backlink), dbcName);
  } catch (const Error&) {
    return false;  // an unreadable file is no member
  }
}
}  // namespace

ContainerFolderCatalog::ContainerFolderCatalog(std::string dbcPath)
    : dbcPath_(std::move(dbcPath)), folder_(folderOf(dbcPath_)) {
  Table dbc(dbcPath_);
  if (!(dbc.header().tableFlags & tableflag::kIsDatabase) ||
      dbc.header().fieldIndex("OBJECTNAME") < 0)
    throw Error("File '" + fileNameOf(dbcPath_) + "' is not a database.");
  dbcPath_ = dbc.path();
}

std::vector<CatalogEntry> ContainerFolderCatalog::tables() const {
  std::vector<CatalogEntry> out;
  std::string dbcName = fileNameOf(dbcPath_);
  for (auto& e : folder_.tables())
    if (isMemberOf(e.path, dbcName)) out.push_back(e);
  return out;
}

std::optional<std::string> ContainerFolderCatalog::findTable(const std::string& name) const {
  auto p = folder_.findTable(name);
  if (p && isMemberOf(*p, fileNameOf(dbcPath_))) return p;
  return std::nullopt;
}

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
