#include "transfer/sync_common.h"

#include <algorithm>
#include <functional>

namespace transfer {

namespace {

std::string Counted(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string FirstKeys(const std::vector<std::string>& keys, long long count) {
  if (keys.empty()) return {};
  std::string out = " (key";
  out += count == 1 ? " " : "s ";
  for (std::size_t i = 0; i < keys.size(); ++i) out += (i ? "; " : "") + keys[i];
  return out + (count > (long long)keys.size() ? "; ...)" : ")");
}

}  // namespace

void KeepShownKey(std::vector<std::string>& keys, std::string shown) {
  if (keys.size() < kSyncKeysShown) keys.push_back(std::move(shown));
}

std::string SyncReportLine(const SyncTableCounts& c, bool deleting, const std::string& target) {
  std::string line = c.table + ": ";
  if (c.inserts + c.updates + c.targetOnly == 0) return line + "no changes";
  std::vector<std::string> parts;
  if (c.inserts)
    parts.push_back(Counted(c.inserts, "row", "rows") + " to insert" +
                    FirstKeys(c.insertKeys, c.inserts));
  if (c.updates)
    parts.push_back(Counted(c.updates, "row", "rows") + " to update" +
                    FirstKeys(c.updateKeys, c.updates));
  if (c.targetOnly)
    parts.push_back(
        Counted(c.targetOnly, "row", "rows") +
        (deleting ? " to delete" : " only in " + target + ", left alone (--delete removes them)") +
        FirstKeys(c.targetOnlyKeys, c.targetOnly));
  for (std::size_t i = 0; i < parts.size(); ++i) line += (i ? ", " : "") + parts[i];
  return line;
}

std::string DecimalText(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  std::string_view whole = s, fraction;
  if (const auto dot = s.find('.'); dot != std::string_view::npos) {
    whole = s.substr(0, dot);
    fraction = s.substr(dot + 1);
  }
  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  if (whole.empty() && fraction.empty()) return "0";
  std::string out = negative ? "-" : "";
  out += whole.empty() ? std::string_view("0") : whole;
  if (!fraction.empty()) (out += '.') += fraction;
  return out;
}

void AppendKeyPart(std::string& key, std::string_view part) {
  key += std::to_string(part.size());
  key += ':';
  key += part;
}

std::string ShownKey(std::string_view bytes) {
  std::string shown;
  while (!bytes.empty()) {
    const auto colon = bytes.find(':');
    const std::size_t n = std::stoul(std::string(bytes.substr(0, colon)));
    shown += (shown.empty() ? "" : ", ") + std::string(bytes.substr(colon + 1, n));
    bytes.remove_prefix(colon + 1 + n);
  }
  return shown;
}

void KeyedRows::add(std::string_view key, std::uint64_t hash) {
  entries_.push_back({keys_.size(), std::uint32_t(key.size()), hash});
  keys_ += key;
}

std::optional<std::pair<std::size_t, std::size_t>> KeyedRows::sortAndFindDuplicate() {
  order_.resize(entries_.size());
  for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = std::uint32_t(i);
  std::sort(order_.begin(), order_.end(),
            [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
  for (std::size_t i = 1; i < order_.size(); ++i)
    if (key(order_[i]) == key(order_[i - 1]))
      return std::pair<std::size_t, std::size_t>{std::min(order_[i - 1], order_[i]),
                                                 std::max(order_[i - 1], order_[i])};
  return std::nullopt;
}

std::optional<std::size_t> KeyedRows::find(std::string_view k) const {
  const auto at = std::lower_bound(order_.begin(), order_.end(), k,
                                   [&](std::uint32_t e, std::string_view b) { return key(e) < b; });
  if (at == order_.end() || key(*at) != k) return std::nullopt;
  return *at;
}

std::optional<std::size_t> KeyedRows::find(std::string_view k, std::size_t& near) const {
  if (near < order_.size() && key(order_[near]) == k) return order_[near++];
  const auto at = std::lower_bound(order_.begin(), order_.end(), k,
                                   [&](std::uint32_t e, std::string_view b) { return key(e) < b; });
  if (at == order_.end() || key(*at) != k) return std::nullopt;
  near = std::size_t(at - order_.begin()) + 1;
  return *at;
}

}  // namespace transfer
