// Rows into a MySQL table through LOAD DATA LOCAL INFILE, the way the server takes rows fastest.
// The client library asks for the "file" and is fed from memory, a chunk of rows at a time, so
// nothing is written to disk and memory stays flat.
//
// The row copy's contract holds on this path too: a row the server refuses is reported once, by
// its record number, and every other row arrives. The server loads a chunk as a whole and, for a
// local load, turns a bad value into a warning and an adjusted value rather than a refusal; so a
// chunk that fails or draws any warning is undone and handed back to the caller, who sends its rows
// with INSERT statements and learns exactly which rows are refused.
//
//   auto load = LocalRowLoad::Start(session, table, columns, chunkRows, notes);  // nullptr: INSERT
//   auto rows = LoadRowsOf(recordSet, nextKey);
//   while (load->send(*rows, sendWithInserts)) {}
#pragma once

#include <cmath>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ado/dataaccess.h"

namespace ado {
class MySqlSession;
class RecordSet;
}  // namespace ado

namespace transfer {

// The note the copy leaves (once per run) when the server does not allow local loading.
extern const char* const kLocalLoadRefusedNote;
// What the report before Execute says instead when it finds local loading off.
extern const char* const kLocalLoadOffReport;

// MySQL's DOUBLE holds no infinity and no NaN, which a FoxPro B field can: the copy sends such a
// value as NULL on every path, and the report before Execute names where it lies.
inline bool MySqlHoldsDouble(double d) { return std::isfinite(d); }

// One row of a chunk as the server's LOAD DATA reads it: values separated by tabs, NULL as \N,
// tab, line break, backslash and NUL escaped, numbers and dates in the server's own text forms
// (a double in its shortest exact form, as the server itself writes one; one it cannot hold as
// NULL), a logical as the one raw byte a BIT column stores (1, or an escaped NUL), or as the digit
// 1 or 0 where `digitLogicals[k]` is set (a column of another type). Ends with a line feed.
// Exposed for tests.
void AppendLoadLine(std::string& out, const ado::Value* row, std::size_t width,
                    const std::vector<bool>& digitLogicals = {});

class LocalRowLoad {
 public:
  // The rows a load draws from, in order, each as its load line; the rows of a chunk again as
  // values when the chunk goes to the fallback.
  class Source {
   public:
    virtual ~Source() = default;
    // Forgets the rows drawn so far: a new chunk starts.
    virtual void newChunk() = 0;
    // Moves to the next row and appends its line (as AppendLoadLine makes it) to *line, or only
    // moves when line is null; false when there are no more rows.
    virtual bool next(std::string* line) = 0;
    // The rows drawn since newChunk(), width values each, in place of rows' contents.
    virtual void chunkRows(std::vector<ado::Value>& rows) = 0;
  };
  // A chunk's rows, `width` values each, handed back when the chunk did not load as it is.
  using Fallback = std::function<void(const std::vector<ado::Value>& rows, std::size_t width)>;

  // At most this many rows go in one chunk, fewer when they make a lot of text.
  static constexpr std::size_t kMaxChunkRows = 20000;

  // Ready to load into `table` (its `columns` in the order the rows give them) chunks of
  // `chunkRows` rows (at most kMaxChunkRows), or nullptr when the server does not allow local
  // loading; the notes then say so (once, whatever the number of tables) unless `quiet` (the
  // caller said it before). `logical` marks the columns whose values are logicals; one whose
  // column is not a BIT (TINYINT(1) of the typed script, or a type changed in the preview) takes
  // the digit 1 or 0, which the lines then carry (digitLogicals()).
  static std::unique_ptr<LocalRowLoad> Start(ado::MySqlSession& target, const std::string& table,
                                             const std::vector<std::string>& columns,
                                             std::size_t chunkRows, std::vector<std::string>& notes,
                                             const std::vector<bool>& logical = {},
                                             bool quiet = false);
  ~LocalRowLoad();

  // Loads the next chunk, drawn from `source` while the server reads it, in a transaction of
  // its own. A chunk the server refuses or changes is rolled back and goes to `fallback`; when
  // the server turns out to refuse local loading itself, this and every later chunk go there
  // (and the note is added). False once the source has no more rows.
  bool send(Source& source, const Fallback& fallback);

  long long chunksLoaded() const { return loaded_; }
  long long chunksHandedBack() const { return handedBack_; }
  // Chunks the server was sent and that were undone (refused, or a value changed), and the
  // server's words for the first of them.
  long long chunksUndone() const { return undone_; }
  const std::string& firstUndoneReason() const { return firstReason_; }
  // Per column of the lines: its logicals go as the digit 1 or 0 (see LoadRowsOf).
  const std::vector<bool>& digitLogicals() const { return digitLogicals_; }

 private:
  LocalRowLoad(ado::MySqlSession& target, std::string statement, std::string deleteHead,
               std::size_t width, std::size_t chunkRows, std::vector<std::string>& notes,
               std::vector<bool> digitLogicals);
  bool draw();  // one more row into the chunk; false when it is complete
  bool load();  // true when the chunk is in, as sent
  void undone(std::string reason);
  static int FeedInit(void** state, const char* name, void* userdata);
  static int FeedRead(void* state, char* buffer, unsigned int size);
  static void FeedEnd(void* state);
  static int FeedError(void* state, char* message, unsigned int size);

  ado::MySqlSession& target_;
  std::string statement_;   // LOAD DATA LOCAL INFILE ... (columns)
  std::string deleteHead_;  // DELETE FROM `table` WHERE `key` BETWEEN: undoes a chunk anywhere
  std::size_t width_;
  std::size_t chunkRows_;
  std::vector<std::string>& notes_;
  std::vector<ado::Value> rows_;  // the chunk's rows as values, once it goes to the fallback
  std::size_t drawn_ = 0;         // rows in the chunk so far
  std::string text_;              // their text not yet handed to the client library
  std::size_t sent_ = 0;          // of text_
  std::size_t drawnBytes_ = 0;    // text made for this chunk
  bool exhausted_ = false;
  Source* source_ = nullptr;
  std::exception_ptr failure_;
  bool refused_ = false;  // the server refuses local loading: everything goes to the fallback
  long long loaded_ = 0;
  long long handedBack_ = 0;
  long long undone_ = 0;
  std::string firstReason_;
  std::vector<bool> digitLogicals_;
};

// The rows of a record set for a load, each led by its key: the row number, counted on in
// `key` (which holds the first row's number). The rows of a FoxPro table are read straight from
// their record bytes into the lines; any other record set, or `general` set, goes through its
// values. Both make the same lines and values. The logicals of the columns `digitLogicals`
// marks (the key being column 0) go as digits, as AppendLoadLine writes them.
std::unique_ptr<LocalRowLoad::Source> LoadRowsOf(ado::RecordSet& rs, long long& key,
                                                 bool general = false,
                                                 std::vector<bool> digitLogicals = {});

}  // namespace transfer
