// A database container as the SQL session sees it: its tables and views by their long names,
// its member tables' long field names, and CREATE TABLE / DROP TABLE / RENAME TABLE kept in the
// container.
#pragma once

#include <string>
#include <vector>

#include "vfp/database.h"

namespace vfp::dbc {

class ContainerCatalog : public TableCatalog {
 public:
  explicit ContainerCatalog(std::string dbcPath);  // throws unless a readable container

  std::vector<CatalogEntry> tables() const override;
  // A table by its long name. Throws for a view (only tables can be read) and for a table whose
  // file names another container as its own.
  std::optional<std::string> findTable(const std::string& name) const override;
  std::string folder() const override;
  std::vector<std::string> fieldNames(const std::string& path) const override;
  bool isMember(const std::string& path) const override;
  // A member whose Path leads outside the container's folder is read (FoxPro reads it too) but
  // never written, replaced or deleted.
  void checkDroppable(const std::string& path) const override;
  void checkWritable(const std::string& path) const override;
  void created(const std::string& path, const std::string& name,
               const std::vector<std::string>& fieldNames, bool free,
               const std::vector<std::string>& defaults) override;
  void dropped(const std::string& path) override;
  void checkRenamable(const std::string& path, const std::string& name) const override;
  void renamed(const std::string& from, const std::string& to, const std::string& name) override;
  bool isDatabase() const override { return true; }
  void tagAdded(const std::string& path, const std::string& tag, bool candidate,
                bool primary) override;
  std::string primaryKey(const std::string& path) const override;
  void relationAdded(const std::string& childPath, const std::string& childTag,
                     const std::string& parentPath, const std::string& parentTag) override;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vfp::dbc
