#include "vfp/dbc_catalog.h"

#include "vfp/dbc.h"
#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/names.h"
#include "vfp/table.h"

namespace vfp::dbc {

ContainerCatalog::ContainerCatalog(std::string dbcPath) : path_(std::move(dbcPath)) {
  path_ = Container::open(path_).path();
}

std::vector<CatalogEntry> ContainerCatalog::tables() const {
  std::vector<CatalogEntry> out;
  for (auto& m : Container::open(path_).members()) out.push_back({m.name, m.type, m.path});
  return out;
}

std::optional<std::string> ContainerCatalog::findTable(const std::string& name) const {
  const auto m = Container::open(path_).find(name);
  if (!m) return std::nullopt;
  if (m->type != "TABLE")
    throw Error("'" + m->name + "' is a view of database '" + fileNameOf(path_) +
                "'; only its tables can be read.");
  const std::string link = Table(m->path).header().backlink;
  if (!equalsNoCase(fileNameOf(link), fileNameOf(path_)))
    throw Error("Table '" + m->name + "' ('" + fileNameOf(m->path) + "') names " +
                (link.empty() ? std::string("no database") : "database '" + link + "'") +
                " as its own, not '" + fileNameOf(path_) + "'.");
  return m->path;
}

std::string ContainerCatalog::folder() const { return folderOf(path_); }

std::vector<std::string> ContainerCatalog::fieldNames(const std::string& path) const {
  const Container c = Container::open(path_);
  const Object* t = c.tableForFile(path);
  return t ? c.fieldNames(t->id) : std::vector<std::string>{};
}

bool ContainerCatalog::isMember(const std::string& path) const {
  return Container::open(path_).tableForFile(path) != nullptr;
}

namespace {

// Members live beside their container or below it; one the container's Path puts elsewhere is
// not this database's to change.
void checkInside(const std::string& dbcPath, const std::string& path, const char* action) {
  const Container c = Container::open(dbcPath);
  const Object* t = c.tableForFile(path);
  if (!t || isInsideFolder(folderOf(dbcPath), path)) return;
  const Property* p = findProperty(t->properties, propid::kPath);
  throw Error("Table '" + t->name + "' of database '" + fileNameOf(dbcPath) + "' lies outside " +
              "the database's folder ('" + (p ? p->text() : path) + "'); it is not " + action +
              ".");
}

}  // namespace

void ContainerCatalog::checkDroppable(const std::string& path) const {
  checkInside(path_, path, "replaced or deleted");
}

void ContainerCatalog::checkWritable(const std::string& path) const {
  checkInside(path_, path, "written to");
}

void ContainerCatalog::created(const std::string& path, const std::string& name,
                               const std::vector<std::string>& fieldNames, bool free,
                               const std::vector<std::string>& defaults) {
  if (!free) addTable(path_, path, name, fieldNames, defaults);
}

void ContainerCatalog::tagAdded(const std::string& path, const std::string& tag, bool candidate,
                                bool primary) {
  if (isMember(path)) addIndex(path_, path, tag, candidate, primary);
}

std::string ContainerCatalog::primaryKey(const std::string& path) const {
  const Container c = Container::open(path_);
  const Object* t = c.tableForFile(path);
  if (!t) return {};
  const Property* p = findProperty(t->properties, propid::kPrimaryKey);
  return p ? p->text() : std::string();
}

void ContainerCatalog::relationAdded(const std::string& childPath, const std::string& childTag,
                                     const std::string& parentPath, const std::string& parentTag) {
  addRelation(path_, childPath, childTag, parentPath, parentTag);
}

void ContainerCatalog::dropped(const std::string& path) { removeTable(path_, path); }

void ContainerCatalog::checkRenamable(const std::string& path, const std::string& name) const {
  dbc::checkRenamable(path_, path, name);
}

void ContainerCatalog::renamed(const std::string& from, const std::string& to,
                               const std::string& name) {
  renameTable(path_, from, to, name);
}

}  // namespace vfp::dbc
