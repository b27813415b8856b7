#include "vfp/database.h"

#include <algorithm>

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

// ------------------------------------------------------------------------------ catalogs

void TableCatalog::checkDroppable(const std::string&) const {}

FolderCatalog::FolderCatalog(std::string folder) : folder_(std::move(folder)) {
  if (pathKind(folder_) != PathKind::Folder)
    throw Error("Invalid path or file name: '" + folder_ + "' is not a folder.");
}

std::vector<CatalogEntry> FolderCatalog::tables() const {
  std::vector<CatalogEntry> out;
  auto entries = folderEntries(folder_);
  if (!entries) throw Error("Cannot read folder '" + folder_ + "'.");
  for (const auto& n : *entries) {
    if (n.size() <= 4 || !equalsNoCase(n.substr(n.size() - 4), ".dbf")) continue;
    std::string full = joinPath(folder_, n);
    if (pathKind(full) != PathKind::File) continue;
    out.push_back({n.substr(0, n.size() - 4), "TABLE", full});
  }
  std::sort(out.begin(), out.end(),
            [](const CatalogEntry& a, const CatalogEntry& b) { return a.name < b.name; });
  return out;
}

std::optional<std::string> FolderCatalog::findTable(const std::string& name) const {
  return findFileNoCase(folder_, name + ".dbf");
}

// ---------------------------------------------------------------------------- QueryResult

QueryResult::QueryResult(const std::string& path, std::vector<std::string> longNames)
    : QueryResult(path, std::move(longNames), CodePageChoice{}) {
  choice_.codePage = table_.codePage();
  if (!codePageFromMark(table_.header().codePageMark))
    choice_.source = CodePageChoice::Source::Named;
}

QueryResult::QueryResult(const std::string& path, std::vector<std::string> longNames,
                         const CodePageChoice& choice)
    : table_(path, choice.unmarked() ? choice.codePage : 0),
      choice_(choice),
      longNames_(std::move(longNames)),
      scan_(table_) {
  if (longNames_.size() != table_.userFields().size()) longNames_.clear();
  values_.resize(fieldCount());
  decoded_.assign(fieldCount(), false);
}

void QueryResult::countRows() const {
  if (counted_) return;
  count_ = 0;
  deleted_.clear();
  RecordScanner scan(table_);
  while (const std::uint8_t* record = scan.next()) {
    if (Table::isDeleted(record))
      deleted_.push_back(scan.recno() + 1);
    else
      ++count_;
  }
  counted_ = true;
}

std::uint32_t QueryResult::rowCount() const {
  countRows();
  return count_;
}

std::uint32_t QueryResult::recordNumber(std::uint32_t row) const {
  countRows();
  std::uint32_t recno = row + 1;
  for (std::uint32_t d : deleted_) {
    if (d > recno) break;
    ++recno;
  }
  return recno;
}

bool QueryResult::next() {
  row_ = scan_.nextLive();
  std::fill(decoded_.begin(), decoded_.end(), false);
  return row_ != nullptr;
}

const Value& QueryResult::value(std::size_t i) {
  if (!row_) throw Error("No current record.");
  if (!decoded_[i]) {
    table_.decodeField(row_, std::size_t(table_.userFields()[i]), values_[i]);
    decoded_[i] = true;
  }
  return values_[i];
}

}  // namespace vfp
