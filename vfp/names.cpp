#include "vfp/names.h"

#include <array>
#include <cstdio>
#include <filesystem>

#include "vfp/error.h"
#include "vfp/file.h"

namespace vfp {

namespace {

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

std::string describe(unsigned char c) {
  if (c == 0) return "a NUL character";
  char buf[40];
  std::snprintf(buf, sizeof buf, "control character 0x%02X", unsigned(c));
  return buf;
}

// Characters no file name may hold on Windows; '/' and NUL on every system.
bool forbiddenInFileName(unsigned char c) {
  switch (c) {
    case '/':
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
      return true;
    default:
      return isControl(c);
  }
}

bool isReservedDevice(std::string_view stem) {
  // The part before the first dot decides: "con.txt" is the console too.
  const std::string base = toUpperAscii(std::string(stem.substr(0, stem.find('.'))));
  static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
  for (auto r : kPlain)
    if (base == r) return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace

void checkReference(std::string_view ref) {
  if (ref.empty()) throw Error("Invalid path or file name: the name is empty.");
  for (unsigned char c : ref)
    if (isControl(c)) throw Error("Invalid path or file name: the name holds " + describe(c) + ".");
}

void checkFieldName(std::string_view name) {
  if (name.empty()) throw Error("Field name is empty.");
  for (unsigned char c : name)
    if (isControl(c))
      throw Error("Field name '" + std::string(name.substr(0, name.find('\0'))) + "...' holds " +
                  describe(c) + ".");
  if (name.size() > names::kMaxStem)
    throw Error("Field name '" + std::string(name) + "' must have 1 to 128 characters.");
}

ConfinedName confineTableName(std::string_view name) {
  ConfinedName out;
  std::string& s = out.stem;
  std::string why;
  auto note = [&](const std::string& w) {
    if (why.empty()) why = w;
  };
  s.reserve(name.size());
  for (unsigned char c : name) {
    if (forbiddenInFileName(c)) {
      note(isControl(c) ? describe(c) + " cannot be part of a file name"
                        : "'" + std::string(1, char(c)) + "' cannot be part of a file name");
      s.push_back('_');
    } else {
      s.push_back(char(c));
    }
  }
  if (s.empty()) {
    s = "_";
    note("an empty name cannot name a file");
  }
  // Leading blanks and dots ("..", ".hidden", " x") and trailing ones (dropped by Windows).
  for (std::size_t i = 0; i < s.size() && (s[i] == '.' || s[i] == ' '); ++i) {
    s[i] = '_';
    note("a file name cannot start with a dot or a blank");
  }
  for (std::size_t i = s.size(); i-- > 0 && (s[i] == '.' || s[i] == ' ');) {
    s[i] = '_';
    note("a file name cannot end with a dot or a blank");
  }
  if (s.size() > names::kMaxStem) {
    std::size_t cut = names::kMaxStem;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    s.resize(cut);
    note("the name is longer than " + std::to_string(names::kMaxStem) + " bytes");
  }
  if (isReservedDevice(s)) {
    s.push_back('_');
    note("Windows reserves that name for a device");
  }
  if (!why.empty()) out.reason = why;
  return out;
}

std::string confinedPath(const std::string& folder, std::string_view name,
                         std::string_view extension, std::string* reason) {
  ConfinedName c = confineTableName(name);
  if (reason) *reason = c.reason;
  std::string out = folder;
  if (!out.empty() && out.back() != '/' && out.back() != '\\')
    out.push_back(out.find('\\') != std::string::npos ? '\\' : '/');
  out += c.stem;
  out += extension;
  return out;
}

bool isInsideFolder(const std::string& folder, const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path f = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  if (ec) return false;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  if (ec) return false;
  auto fi = f.begin(), pi = p.begin();
  for (; fi != f.end(); ++fi, ++pi) {
    if (fi->empty()) continue;  // the empty last element of "/a/b/"
    if (pi == p.end() || *fi != *pi) return false;
  }
  return true;
}

}  // namespace vfp
