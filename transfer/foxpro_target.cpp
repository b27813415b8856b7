// Where the new FoxPro tables go and the code page they are made in.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "core/connection_strings.h"
#include "core/main_paths.h"
#include "transfer/mysql_to_foxpro.h"
#include "vfp/codepage.h"
#include "vfp/codepage_guess.h"

namespace transfer {

std::string FoxproTargetFolder(const platform::ConnectionFields& fields) {
  const QString folder =
      fields.useDbcFile ? Main::FolderOfPath(fields.dbcFile) : fields.freeTableFolder;
  std::string out = folder.toStdString();
  if (out.empty() || out.back() == '\\' || out.back() == '/') return out;
  // Windows paths keep their own separator; the engine reads both.
  return out + (out.find('\\') != std::string::npos ? '\\' : '/');
}

namespace {

// The code page mark (header byte 29) of a table file; 0 when unreadable or unmarked.
int CodePageOfFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  char header[32] = {};
  if (!in.read(header, sizeof header)) return 0;
  return vfp::codePageFromMark(static_cast<std::uint8_t>(header[29]));
}

std::string LowerAscii(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

namespace {

std::vector<std::filesystem::path> TablesOf(const std::string& folder) {
  std::vector<std::filesystem::path> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder.empty() ? "." : folder, ec))
    if (LowerAscii(entry.path().extension().string()) == ".dbf") out.push_back(entry.path());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

int CodePageOfTarget(const std::string& folder, const std::string& dbcFile) {
  if (!dbcFile.empty())
    if (int cp = CodePageOfFile(dbcFile)) return cp;
  std::map<int, int> votes;
  for (const auto& table : TablesOf(folder))
    if (int cp = CodePageOfFile(table)) ++votes[cp];
  int best = 0, most = 0;
  for (const auto& [cp, n] : votes)
    if (n > most) best = cp, most = n;
  return best;
}

int CodePageOfLocale(const std::string& localeName) {
  const std::string name = LowerAscii(localeName);
  const std::string language = name.substr(0, name.find_first_of("_-.@"));
  const std::string territory =
      name.find('_') == std::string::npos ? "" : name.substr(name.find('_') + 1, 2);
  static const std::map<std::string, int> byLanguage = {
      {"cs", 1250}, {"pl", 1250}, {"sk", 1250}, {"sl", 1250}, {"hu", 1250}, {"hr", 1250},
      {"ro", 1250}, {"bs", 1250}, {"sq", 1250}, {"ru", 1251}, {"uk", 1251}, {"be", 1251},
      {"bg", 1251}, {"sr", 1251}, {"mk", 1251}, {"el", 1253}, {"tr", 1254}, {"az", 1254},
      {"he", 1255}, {"iw", 1255}, {"ar", 1256}, {"fa", 1256}, {"ur", 1256}, {"et", 1257},
      {"lv", 1257}, {"lt", 1257}, {"vi", 1258}, {"th", 874},  {"ja", 932},  {"ko", 949},
      {"en", 1252}, {"de", 1252}, {"fr", 1252}, {"es", 1252}, {"it", 1252}, {"nl", 1252},
      {"pt", 1252}, {"da", 1252}, {"sv", 1252}, {"nb", 1252}, {"no", 1252}, {"fi", 1252}};
  if (language == "zh") return territory == "tw" || territory == "hk" ? 950 : 936;
  auto it = byLanguage.find(language);
  return it == byLanguage.end() ? 0 : it->second;
}

FoxproTarget ChooseFoxproTarget(const platform::ConnectionFields& fields,
                                const std::string& localeName) {
  FoxproTarget target;
  target.folder = FoxproTargetFolder(fields);
  target.container = fields.useDbcFile;
  const std::string dbc = fields.useDbcFile ? fields.dbcFile.toStdString() : std::string();
  // Tables that name no code page are in the one the user named for them, else in the one
  // their text is judged to be in: new tables beside them get the same.
  auto unmarkedText = [&]() -> std::pair<int, std::string> {
    std::vector<std::string> unmarked;
    for (const auto& table : TablesOf(target.folder))
      if (!CodePageOfFile(table)) unmarked.push_back(table.string());
    if (unmarked.empty()) return {0, {}};
    if (int named = platform::UnmarkedFoxproCodePage(fields))
      return {named, "the one named for the folder's tables, whose headers name none (setting " +
                         std::string(platform::kFoxproCodePageSetting) + ")"};
    const vfp::CodePageGuess guess = vfp::guessFolderCodePage(unmarked);
    if (guess.plain) return {0, {}};
    return {guess.codePage, guess.judged
                                ? "judged from the text of the folder's tables, whose headers "
                                  "name none"
                                : "the likeliest for the text of the folder's tables, whose "
                                  "headers name none; too little text to be sure"};
  };
  if (int cp = CodePageOfTarget(target.folder, dbc); cp && vfp::markFromCodePage(cp)) {
    target.codePage = cp;
    target.codePageReason = fields.useDbcFile ? "the one the database and its tables carry"
                                              : "the one most tables of the folder carry";
  } else if (auto [ucp, why] = unmarkedText(); ucp) {
    target.codePage = ucp;
    target.codePageReason = why;
  } else if (int lcp = CodePageOfLocale(localeName); lcp && vfp::markFromCodePage(lcp)) {
    target.codePage = lcp;
    target.codePageReason = "the one the system's language " + localeName + " implies";
  } else {
    target.codePage = vfp::kDefaultCodePage;
    target.codePageReason = "FoxPro's default";
  }
  return target;
}

}  // namespace transfer
