#include "vfp/dbc.h"

#include <filesystem>
#include <set>

#include "vfp/bytes.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/memo.h"
#include "vfp/table.h"

namespace vfp::dbc {

namespace {

std::string trimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

}  // namespace

Property Property::string(std::uint16_t id, std::string_view text) {
  Property p;
  p.id = id;
  p.value = std::string(text);
  p.value.push_back('\0');
  return p;
}

Property Property::byte(std::uint16_t id, std::uint8_t v) {
  Property p;
  p.id = id;
  p.value = std::string(1, char(v));
  return p;
}

std::string Property::text() const {
  auto nul = value.find('\0');
  return nul == std::string::npos ? value : value.substr(0, nul);
}

std::vector<Property> decodeProperties(std::string_view memo) {
  std::vector<Property> out;
  std::size_t at = 0;
  while (at < memo.size()) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(memo.data() + at);
    const std::size_t left = memo.size() - at;
    if (left < Property::kLengthSize + Property::kIdLengthSize)
      throw Error("Database property list is cut short.");
    const std::uint32_t length = bytes::le32(p);
    const std::uint16_t idLength = bytes::le16(p + Property::kLengthSize);
    const std::size_t head = Property::kLengthSize + Property::kIdLengthSize + idLength;
    if (idLength == 0 || idLength > 4 || length < head || length > left)
      throw Error("Database property list is damaged.");
    Property prop;
    prop.idLength = idLength;
    prop.id =
        std::uint32_t(bytes::leN(p + Property::kLengthSize + Property::kIdLengthSize, idLength));
    prop.value.assign(memo.data() + at + head, length - head);
    out.push_back(std::move(prop));
    at += length;
  }
  return out;
}

std::string encodeProperties(const std::vector<Property>& props) {
  std::string out;
  for (const auto& p : props) {
    const std::size_t length =
        Property::kLengthSize + Property::kIdLengthSize + p.idLength + p.value.size();
    std::uint8_t head[Property::kLengthSize + Property::kIdLengthSize + 4] = {};
    bytes::putLe32(head, std::uint32_t(length));
    bytes::putLe16(head + Property::kLengthSize, p.idLength);
    bytes::putLeN(head + Property::kLengthSize + Property::kIdLengthSize, p.id, p.idLength);
    out.append(reinterpret_cast<const char*>(head),
               Property::kLengthSize + Property::kIdLengthSize + p.idLength);
    out += p.value;
  }
  return out;
}

const Property* findProperty(const std::vector<Property>& props, std::uint32_t id) {
  for (const auto& p : props)
    if (p.id == id) return &p;
  return nullptr;
}

Container Container::open(const std::string& dbcPath) {
  Table t(dbcPath);
  const auto& h = t.header();
  const std::string name = fileNameOf(t.path());
  const int fId = h.fieldIndex("OBJECTID"), fParent = h.fieldIndex("PARENTID"),
            fType = h.fieldIndex("OBJECTTYPE"), fName = h.fieldIndex("OBJECTNAME"),
            fProp = h.fieldIndex("PROPERTY"), fRi = h.fieldIndex("RIINFO");
  if (!(h.tableFlags & tableflag::kIsDatabase) || fId < 0 || fParent < 0 || fType < 0 ||
      fName < 0 || fProp < 0)
    throw Error("File '" + name + "' is not a database.");
  // The rows below are read as these types; a container with other ones is damaged.
  auto expect = [&](int index, char type) {
    const auto& f = h.fields[std::size_t(index)];
    if (f.type != type || !h.isVisualFoxPro())
      throw Error("Database '" + name + "' is corrupt: field " + f.name + " has type " +
                  std::string(1, f.type) + ", not " + std::string(1, type) + ".");
  };
  expect(fId, 'I');
  expect(fParent, 'I');
  expect(fType, 'C');
  expect(fName, 'C');
  expect(fProp, 'M');
  const auto& prop = h.fields[std::size_t(fProp)];
  std::optional<MemoReader> memo;
  if (auto dct = findCompanion(t.path(), ".dct")) memo.emplace(*dct, MemoKind::Fpt);

  Container c;
  c.path_ = t.path();
  RecordScanner scan(t);
  std::string text;
  while (const std::uint8_t* r = scan.next()) {
    if (Table::isDeleted(r)) continue;
    Object o;
    o.recno = scan.recno() + 1;
    o.id = std::int32_t(bytes::le32(r + h.fields[std::size_t(fId)].offset));
    o.parent = std::int32_t(bytes::le32(r + h.fields[std::size_t(fParent)].offset));
    const auto& ft = h.fields[std::size_t(fType)];
    o.type = trimRight(std::string(reinterpret_cast<const char*>(r + ft.offset), ft.length));
    const auto& fn = h.fields[std::size_t(fName)];
    o.name = trimRight(std::string(reinterpret_cast<const char*>(r + fn.offset), fn.length));
    if (fRi >= 0) {
      const auto& fr = h.fields[std::size_t(fRi)];
      if (fr.type == 'C')
        o.riInfo = trimRight(std::string(reinterpret_cast<const char*>(r + fr.offset), fr.length));
    }
    const std::uint32_t block = bytes::le32(r + prop.offset);
    if (block != 0) {
      if (!memo)
        throw Error("Memo file '" + fileNameOf(replaceExtension(t.path(), ".dct")) +
                    "' is missing or is invalid.");
      text.clear();
      memo->read(block, text);
      try {
        o.properties = decodeProperties(text);
      } catch (const Error& e) {
        throw Error(std::string(e.what()) + " (database '" + name + "', object '" + o.name + "')");
      }
    }
    c.objects_.push_back(std::move(o));
  }
  return c;
}

std::string Container::resolvePath(const Object& table) const {
  const Property* p = findProperty(table.properties, propid::kPath);
  if (!p) return {};
  std::string rel = p->text();
  for (auto& ch : rel)
    if (ch == '\\') ch = '/';
  // FoxPro resolves a member's Path against the container's folder, "../data/x.dbf" included
  // (reading only: the catalogue never writes or deletes outside the folder). A drive letter, a
  // UNC name or a leading separator names a place on some other machine; nothing is read for it.
  if (rel.empty() || rel[0] == '/' || (rel.size() > 1 && rel[1] == ':')) return {};
  auto found = findPathNoCase(joinPath(folderOf(path_), rel));
  return found ? *found : std::string();
}

std::vector<Member> Container::members() const {
  std::vector<Member> out;
  for (const auto& o : objects_) {
    if (o.type == "Table") {
      Member m{o.name, "TABLE", resolvePath(o), o.id};
      if (m.path.empty()) {
        const Property* p = findProperty(o.properties, propid::kPath);
        throw Error("Table '" + o.name + "' of database '" + fileNameOf(path_) + "' names file '" +
                    (p ? p->text() : std::string()) + "', which does not exist.");
      }
      out.push_back(std::move(m));
    } else if (o.type == "View") {
      out.push_back({o.name, "VIEW", {}, o.id});
    }
  }
  return out;
}

std::optional<Member> Container::find(const std::string& name) const {
  for (const auto& o : objects_) {
    if ((o.type != "Table" && o.type != "View") || !equalsNoCase(o.name, name)) continue;
    if (o.type == "View") return Member{o.name, "VIEW", {}, o.id};
    Member m{o.name, "TABLE", resolvePath(o), o.id};
    if (m.path.empty())
      throw Error("Table '" + o.name + "' of database '" + fileNameOf(path_) +
                  "' names a file that does not exist.");
    return m;
  }
  return std::nullopt;
}

const Object* Container::tableForFile(const std::string& tablePath) const {
  for (const auto& o : objects_) {
    if (o.type != "Table") continue;
    const std::string file = resolvePath(o);
    std::error_code ec;
    if (!file.empty() && std::filesystem::equivalent(nativePath(file), nativePath(tablePath), ec))
      return &o;
  }
  return nullptr;
}

std::vector<std::string> Container::fieldNames(std::int32_t tableId) const {
  std::vector<std::string> out;
  for (const auto& o : objects_)
    if (o.parent == tableId && o.type == "Field") out.push_back(o.name);
  return out;
}

std::vector<const Object*> Container::children(std::int32_t tableId, std::string_view type) const {
  std::vector<const Object*> out;
  for (const auto& o : objects_)
    if (o.parent == tableId && o.type == type) out.push_back(&o);
  return out;
}

const Object* Container::byId(std::int32_t id) const {
  for (const auto& o : objects_)
    if (o.id == id) return &o;
  return nullptr;
}

std::vector<Relation> Container::relations() const {
  std::vector<Relation> out;
  for (const auto& o : objects_) {
    if (o.type != "Relation") continue;
    Relation r;
    r.name = o.name;
    r.childId = o.parent;
    const Object* child = byId(o.parent);
    if (child) r.childTable = child->name;
    auto text = [&](std::uint16_t id) {
      const Property* p = findProperty(o.properties, id);
      return p ? p->text() : std::string();
    };
    r.childTag = text(propid::kChildTag);
    r.parentTable = text(propid::kParentTable);
    r.parentTag = text(propid::kParentTag);
    r.riInfo = o.riInfo;
    out.push_back(std::move(r));
  }
  return out;
}

std::optional<Container> containerOf(const std::string& tablePath) {
  Table t(tablePath);
  const std::string& link = t.header().backlink;
  if (link.empty()) return std::nullopt;
  std::string rel = link;
  for (auto& ch : rel)
    if (ch == '\\') ch = '/';
  const auto dbcPath = findPathNoCase(joinPath(folderOf(t.path()), rel));
  if (!dbcPath)
    throw Error("Table '" + fileNameOf(t.path()) + "' belongs to database '" + link +
                "', which is not found.");
  Container c = Container::open(*dbcPath);
  if (!c.tableForFile(t.path()))
    throw Error("Table '" + fileNameOf(t.path()) + "' names database '" + link +
                "' as its container, but that database does not list it.");
  return c;
}

std::vector<std::string> memberFieldNames(const std::string& tablePath) {
  const auto c = containerOf(tablePath);
  if (!c) return {};
  return c->fieldNames(c->tableForFile(tablePath)->id);
}

namespace {

// How a container names a file: relative to the container's folder, lower case, with
// backslashes as FoxPro writes paths.
std::string relativeName(const std::string& fromFolder, const std::string& file) {
  std::error_code ec;
  std::string rel = utf8Path(nativePath(file).lexically_relative(nativePath(fromFolder)));
  if (rel.empty() || ec) rel = fileNameOf(file);
  for (auto& ch : rel)
    if (ch == '/') ch = '\\';
  return toLowerAscii(rel);
}

Value intValue(std::int64_t v) {
  Value x;
  x.setInt(v);
  return x;
}
Value textValue(const std::string& s) {
  Value x;
  x.setString(Value::Kind::Text) = s;
  return x;
}
Value bytesValue(const std::string& s) {
  Value x;
  x.setString(Value::Kind::Bytes) = s;
  return x;
}

}  // namespace

void addTable(const std::string& dbcPath, const std::string& tablePath, const std::string& longName,
              const std::vector<std::string>& longFieldNames,
              const std::vector<std::string>& fieldDefaults) {
  const Container c = Container::open(dbcPath);
  const std::string dbcName = fileNameOf(c.path());
  if (longName.empty() || longName.size() > kMaxLongName)
    throw Error("Table name '" + longName + "' must have 1 to 128 characters.");
  for (const auto& o : c.objects())
    if ((o.type == "Table" || o.type == "View") && equalsNoCase(o.name, longName))
      throw Error("Table '" + longName + "' already exists in database '" + dbcName + "'.");
  std::set<std::string> seen;
  for (const auto& f : longFieldNames) {
    if (f.empty() || f.size() > kMaxLongName)
      throw Error("Field name '" + f + "' must have 1 to 128 characters.");
    if (!seen.insert(toLowerAscii(f)).second) throw Error("Field name '" + f + "' is duplicated.");
  }
  {
    Table t(tablePath);
    if (!t.header().backlink.empty())
      throw Error("Table '" + fileNameOf(tablePath) + "' already belongs to database '" +
                  t.header().backlink + "'.");
    if (t.userFields().size() != longFieldNames.size())
      throw Error("Table '" + fileNameOf(tablePath) + "' has " +
                  std::to_string(t.userFields().size()) + " fields, but " +
                  std::to_string(longFieldNames.size()) + " names were given.");
  }

  const std::string folder = folderOf(c.path());
  std::vector<Property> tableProps = {
      Property::byte(propid::kClass, objclass::kTable),
      Property::string(propid::kPath, relativeName(folder, tablePath))};
  {
    auto w = TableWriter::openForAppend(c.path());
    if (w->userFields().size() < 5) throw Error("File '" + dbcName + "' is not a database.");
    const auto tableId = std::int64_t(w->recordCount()) + 1;
    // OBJECTID, PARENTID, OBJECTTYPE, OBJECTNAME, PROPERTY; the rest stays blank.
    const Value tableRow[] = {intValue(tableId), intValue(1), textValue("Table"),
                              textValue(longName), bytesValue(encodeProperties(tableProps))};
    w->append(tableRow);
    for (std::size_t i = 0; i < longFieldNames.size(); ++i) {
      std::vector<Property> props;
      if (i < fieldDefaults.size() && !fieldDefaults[i].empty())
        props.push_back(Property::string(propid::kDefaultValue, fieldDefaults[i]));
      const Value fieldRow[] = {intValue(tableId + 1 + std::int64_t(i)), intValue(tableId),
                                textValue("Field"), textValue(toLowerAscii(longFieldNames[i])),
                                bytesValue(encodeProperties(props))};
      w->append(fieldRow);
    }
    w->flush();  // memo, rows, .dcx, record count
  }

  // Last, the table's own link to the container.
  Table t(tablePath);
  TableHeader h = t.header();
  h.backlink = relativeName(folderOf(t.path()), c.path());
  const std::string bytes = h.encode();
  if (bytes.size() != h.headerLength)
    throw Error("Table '" + fileNameOf(tablePath) + "' has no room for a database backlink.");
  File f(t.path(), File::Mode::ReadWrite);
  f.writeAt(0, bytes.data(), bytes.size());
}

namespace {

const Object& memberRow(const Container& c, const std::string& tablePath) {
  const Object* table = c.tableForFile(tablePath);
  if (!table)
    throw Error("Table '" + fileNameOf(tablePath) + "' is not part of database '" +
                fileNameOf(c.path()) + "'.");
  return *table;
}

// Points a row at a new property list: the memo is written first, then the row's pointer, one
// four-byte write. The .dcx does not index properties, so it stays as it is.
void rewriteProperties(const Container& c, const Object& row, const std::vector<Property>& props) {
  Table dbc(c.path());
  const int fProp = dbc.header().fieldIndex("PROPERTY");
  const auto dct = findCompanion(c.path(), ".dct");
  if (fProp < 0 || !dct)
    throw Error("Memo file '" + fileNameOf(replaceExtension(c.path(), ".dct")) +
                "' is missing or is invalid.");
  const std::string memo = encodeProperties(props);
  std::uint32_t block = 0;
  {
    MemoWriter w(*dct);
    block = w.append(fpt::kTypeText, memo.data(), memo.size());
    w.flush();
  }
  std::uint8_t pointer[4];
  bytes::putLe32(pointer, block);
  const auto& f = dbc.header().fields[std::size_t(fProp)];
  File file(dbc.path(), File::Mode::ReadWrite);
  file.writeAt(dbc.header().recordOffset(row.recno - 1) + f.offset, pointer, sizeof pointer);
}

void appendRow(const Container& c, std::int32_t parent, const std::string& type,
               const std::string& name, const std::vector<Property>& props) {
  auto w = TableWriter::openForAppend(c.path());
  if (w->userFields().size() < 5)
    throw Error("File '" + fileNameOf(c.path()) + "' is not a database.");
  const Value row[] = {intValue(std::int64_t(w->recordCount()) + 1), intValue(parent),
                       textValue(type), textValue(name), bytesValue(encodeProperties(props))};
  w->append(row);
  w->flush();
}

void setProperty(std::vector<Property>& props, Property p) {
  for (auto& x : props)
    if (x.id == p.id) {
      x = std::move(p);
      return;
    }
  props.push_back(std::move(p));
}

}  // namespace

void addIndex(const std::string& dbcPath, const std::string& tablePath, const std::string& tag,
              bool candidate, bool primary) {
  const Container c = Container::open(dbcPath);
  const Object& table = memberRow(c, tablePath);
  const std::string name = toLowerAscii(tag);
  const Property unique = Property::byte(propid::kIsUnique, candidate ? 1 : 0);
  const Object* existing = nullptr;
  for (const Object* o : c.children(table.id, "Index"))
    if (equalsNoCase(o->name, name)) existing = o;
  if (!existing) {
    appendRow(c, table.id, "Index", name, {unique});
  } else {
    const Property* now = findProperty(existing->properties, propid::kIsUnique);
    if (!now || now->value != unique.value) {
      auto props = existing->properties;
      setProperty(props, unique);
      rewriteProperties(c, *existing, props);
    }
  }
  if (primary) {
    auto props = table.properties;
    setProperty(props, Property::string(propid::kPrimaryKey, name));
    rewriteProperties(c, table, props);
  }
}

void addRelation(const std::string& dbcPath, const std::string& childPath,
                 const std::string& childTag, const std::string& parentPath,
                 const std::string& parentTag) {
  const Container c = Container::open(dbcPath);
  const Object& child = memberRow(c, childPath);
  const Object& parent = memberRow(c, parentPath);
  // FoxPro numbers a child table's relations: "Relation 1", "Relation 2", ...
  int n = 1;
  for (;;) {
    const std::string candidate = "Relation " + std::to_string(n);
    bool taken = false;
    for (const Object* o : c.children(child.id, "Relation")) taken = taken || o->name == candidate;
    if (!taken) break;
    ++n;
  }
  appendRow(c, child.id, "Relation", "Relation " + std::to_string(n),
            {Property::string(propid::kChildTag, toLowerAscii(childTag)),
             Property::string(propid::kParentTable, parent.name),
             Property::string(propid::kParentTag, toLowerAscii(parentTag))});
}

void removeTable(const std::string& dbcPath, const std::string& tablePath) {
  const Container c = Container::open(dbcPath);
  const Object* table = c.tableForFile(tablePath);
  if (!table)
    throw Error("Table '" + fileNameOf(tablePath) + "' is not part of database '" +
                fileNameOf(c.path()) + "'.");
  std::set<std::uint32_t> rows = {table->recno};
  for (const auto& o : c.objects()) {
    const bool child =
        o.parent == table->id && (o.type == "Field" || o.type == "Index" || o.type == "Relation");
    const Property* parentTable = findProperty(o.properties, propid::kParentTable);
    const bool parentOf =
        o.type == "Relation" && parentTable && equalsNoCase(parentTable->text(), table->name);
    if (child || parentOf) rows.insert(o.recno);
  }
  // The .dcx must be one that can be rebuilt before any row changes.
  IndexMaintainer::open(c.path());
  {
    Table dbc(c.path());
    File f(dbc.path(), File::Mode::ReadWrite);
    const std::uint8_t deleted = '*';
    for (std::uint32_t r : rows) f.writeAt(dbc.header().recordOffset(r - 1), &deleted, 1);
  }
  if (auto index = IndexMaintainer::open(c.path())) index->write();
}

void checkRenamable(const std::string& dbcPath, const std::string& tablePath,
                    const std::string& longName) {
  const Container c = Container::open(dbcPath);
  const std::string dbcName = fileNameOf(c.path());
  const Object* table = c.tableForFile(tablePath);
  if (!table)
    throw Error("Table '" + fileNameOf(tablePath) + "' is not part of database '" + dbcName + "'.");
  if (longName.empty() || longName.size() > kMaxLongName)
    throw Error("Table name '" + longName + "' must have 1 to 128 characters.");
  for (const auto& o : c.objects()) {
    if ((o.type == "Table" || o.type == "View") && o.recno != table->recno &&
        equalsNoCase(o.name, longName))
      throw Error("Table '" + longName + "' already exists in database '" + dbcName + "'.");
    const Property* parent = findProperty(o.properties, propid::kParentTable);
    if (o.type == "Relation" && parent && equalsNoCase(parent->text(), table->name))
      throw Error("Table '" + table->name + "' is the parent of a relation in database '" +
                  dbcName + "'; RENAME TABLE is not supported for it by this FoxPro engine.");
  }
}

void renameTable(const std::string& dbcPath, const std::string& fromPath, const std::string& toPath,
                 const std::string& longName) {
  const Container c = Container::open(dbcPath);
  const std::string dbcName = fileNameOf(c.path());
  const std::string folder = folderOf(c.path());
  // The files have moved, so the row is found by the path it names, as written.
  const std::string was = relativeName(folder, fromPath);
  const Object* table = nullptr;
  for (const auto& o : c.objects()) {
    const Property* p = o.type == "Table" ? findProperty(o.properties, propid::kPath) : nullptr;
    if (!p) continue;
    std::string named = toLowerAscii(p->text());
    for (auto& ch : named)
      if (ch == '/') ch = '\\';
    if (named == was) table = &o;
  }
  if (!table)
    throw Error("Table '" + fileNameOf(fromPath) + "' is not part of database '" + dbcName + "'.");

  std::vector<Property> props = table->properties;
  for (auto& p : props)
    if (p.id == propid::kPath) p = Property::string(propid::kPath, relativeName(folder, toPath));
  const std::string encoded = encodeProperties(props);

  Table dbc(c.path());
  const auto& h = dbc.header();
  const auto& fName = h.fields[std::size_t(h.fieldIndex("OBJECTNAME"))];
  const auto& fProp = h.fields[std::size_t(h.fieldIndex("PROPERTY"))];
  std::string name;
  if (dbc.converter().fromUtf8(longName, name) > 0 || name.size() > fName.length)
    throw Error("Table name '" + longName + "' cannot be kept by database '" + dbcName + "'.");
  if (fProp.length != 4)
    throw Error("Database '" + dbcName + "' is not one RENAME TABLE can change.");
  // The .dcx must be one that can be rebuilt before the row changes.
  IndexMaintainer::open(c.path());
  std::string record(h.recordLength, ' ');
  dbc.readRecord(table->recno - 1, reinterpret_cast<std::uint8_t*>(record.data()));
  name.resize(fName.length, ' ');
  record.replace(fName.offset, fName.length, name);
  const auto dct = findCompanion(c.path(), ".dct");
  if (!dct)
    throw Error("Memo file '" + fileNameOf(replaceExtension(c.path(), ".dct")) +
                "' is missing or is invalid.");
  std::uint32_t block = 0;
  {
    MemoWriter memo(*dct);
    block = memo.append(fpt::kTypeText, encoded.data(), encoded.size());
    memo.flush();
  }
  bytes::putLe32(reinterpret_cast<std::uint8_t*>(record.data()) + fProp.offset, block);
  {
    File f(dbc.path(), File::Mode::ReadWrite);
    f.writeAt(h.recordOffset(table->recno - 1), record.data(), record.size());
  }
  if (auto index = IndexMaintainer::open(c.path())) index->write();
}

}  // namespace vfp::dbc
