// The data-access layer: connections and record sets in the spirit of the object model the
// program was designed around, and no more of it than the program uses. A connection string
// whose Provider is "vfpoledb.1" reaches the FoxPro engine; one whose DRIVER names MySQL
// reaches a MySQL/MariaDB server through Connector/C.
//
// Callers may rely on:
// - every failure throws DataAccessError carrying the engine's or server's own message;
// - with a client-side cursor (adUseClient) recordCount() is exact before the first row is read;
// - SQL text is passed through unchanged: no quoting, no terminator, no transaction added.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ado/value.h"

namespace ado {

enum CursorLocation { adUseServer = 2, adUseClient = 3 };
enum CursorType { adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
enum LockType { adLockReadOnly = 1, adLockPessimistic = 2, adLockOptimistic = 3 };
enum SchemaEnum { adSchemaTables = 20 };
enum ObjectState { adStateClosed = 0, adStateOpen = 1 };

// Field type codes of the data-access type enumeration (only those the backends hand out).
enum DataTypeEnum {
  adEmpty = 0,
  adSmallInt = 2,
  adInteger = 3,
  adSingle = 4,
  adDouble = 5,
  adCurrency = 6,
  adBoolean = 11,
  adTinyInt = 16,
  adUnsignedTinyInt = 17,
  adUnsignedSmallInt = 18,
  adUnsignedInt = 19,
  adBigInt = 20,
  adUnsignedBigInt = 21,
  adBinary = 128,
  adChar = 129,
  adWChar = 130,
  adNumeric = 131,
  adDBDate = 133,
  adDBTime = 134,
  adDBTimeStamp = 135,
  adVarChar = 200,
  adLongVarChar = 201,
  adVarWChar = 202,
  adLongVarWChar = 203,
  adVarBinary = 204,
  adLongVarBinary = 205,
};

// A failure reported by a backend. what() is the backend's own message, shown verbatim.
class DataAccessError : public std::runtime_error {
 public:
  explicit DataAccessError(const std::string& message, int nativeCode = 0)
      : std::runtime_error(message), nativeCode_(nativeCode) {}
  int nativeCode() const { return nativeCode_; }  // server error number, 0 when none

 private:
  int nativeCode_;
};

struct FieldInfo {
  std::string name;
  int type = adEmpty;         // DataTypeEnum code
  int precision = 0;          // digits for adNumeric; 0 when not meaningful
  int scale = 0;              // decimals for adNumeric
  long long definedSize = 0;  // declared width in characters or bytes, 0 when unknown
  bool nullable = true;
};

// "Key=Value;" pairs as the program writes them. Keys compare case-insensitively. A value in
// braces may contain ";" and has "}" doubled inside; any other value runs to the next ";".
class ConnectionString {
 public:
  static ConnectionString parse(const std::string& text);
  // Builds one "Key=Value;" pair, braced only when the value needs it (";" inside, or a
  // leading "{"), so values without those characters are written exactly as typed.
  static std::string pair(const std::string& key, const std::string& value);

  bool has(const std::string& key) const;
  std::string get(const std::string& key, const std::string& fallback = {}) const;
  const std::vector<std::pair<std::string, std::string>>& pairs() const { return pairs_; }

 private:
  std::vector<std::pair<std::string, std::string>> pairs_;
};

// What a connection calls while one of its statements waits on the server (see
// Connection::setWaiting).
using Waiting = std::function<void()>;

struct ConnectionOptions {
  CursorLocation cursorLocation = adUseServer;
  int commandTimeout = 0;     // seconds; 0 = DefaultLimits().commandSeconds
  int connectionTimeout = 0;  // seconds; 0 = DefaultLimits().connectSeconds
  int lockWaitTimeout = 0;    // seconds; 0 = DefaultLimits().lockWaitSeconds
  Waiting waiting;            // empty: statements block until the server answers
  // FoxPro: the code page of tables whose header names none; 0 judges it from their text.
  int unmarkedCodePage = 0;
};

// The limits every server connection gets where its owner sets none, so no window waits without
// end: on a host that does not answer (connecting), on a server that stops answering in the
// middle of a statement (reading and writing), or on a table another session holds (the
// server's own lock wait, by default a year for a DROP or RENAME and fifty seconds for a row).
// A statement that hits the lock wait ends with the server's own message ("Lock wait timeout
// exceeded ..."). Program-wide; tests shorten them.
struct Limits {
  int connectSeconds = 10;
  int commandSeconds = 600;  // long enough for a large ALTER TABLE, short of forever
  int lockWaitSeconds = 30;
};
Limits& DefaultLimits();

// One open result: a forward cursor over rows, or a fully stored one with an exact count.
class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual const std::vector<FieldInfo>& fields() const = 0;
  virtual long long recordCount() const = 0;  // -1 when unknown (streaming)
  virtual bool eof() const = 0;
  virtual void moveNext() = 0;
  virtual const Value& value(int index) const = 0;
  // Updatable sets only; the default refuses.
  virtual void addNew();
  virtual void setValue(int index, Value value);
  virtual void update();
};

// What a database reached through a connection string must offer.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual void open(const ConnectionString& cs, const ConnectionOptions& options) = 0;
  // Runs one statement; returns its rows when it has a result, else nullptr. The text is read
  // during the call only.
  virtual std::unique_ptr<Cursor> execute(std::string_view sql) = 0;
  // Opens a record set; an updatable one when lockType is not read-only.
  virtual std::unique_ptr<Cursor> openRecordSet(const std::string& sql, CursorType cursorType,
                                                LockType lockType) = 0;
  // Rows with at least TABLE_NAME and TABLE_TYPE.
  virtual std::unique_ptr<Cursor> tablesSchema() = 0;
  virtual void close() = 0;
  // See Connection::setWaiting; a backend whose statements never wait long ignores it.
  virtual void setWaiting(Waiting) {}
  // True once a statement was abandoned because the waiting callback threw.
  virtual bool abandoned() const { return false; }
  // Characters written as "?" because the target code page could not hold them, since open.
  virtual long long charactersReplaced() const { return 0; }
};

std::unique_ptr<Backend> makeMySqlBackend();
std::unique_ptr<Backend> makeFoxProBackend();

class Connection {
 public:
  Connection() = default;
  ~Connection();  // releasing an open connection closes it
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void setCursorLocation(CursorLocation location) { options_.cursorLocation = location; }
  CursorLocation cursorLocation() const { return options_.cursorLocation; }
  void setCommandTimeout(int seconds) { options_.commandTimeout = seconds; }
  void setConnectionTimeout(int seconds) { options_.connectionTimeout = seconds; }
  void setLockWaitTimeout(int seconds) { options_.lockWaitTimeout = seconds; }
  // FoxPro: the code page text of tables whose header names none is read in (one the user
  // named); 0, the default, judges it per table from the table's text. A header that names a
  // page is always obeyed. Set before open.
  void setUnmarkedCodePage(int codePage) { options_.unmarkedCodePage = codePage; }
  int unmarkedCodePage() const { return options_.unmarkedCodePage; }
  // While connecting or a statement (a streamed row included) waits on the server, calls
  // waiting() about every 20 ms, so the window that started it can answer meanwhile; the time
  // limits apply as before. Empty (the default): the call blocks until the server answers.
  // waiting may throw (the program is ending): the statement is abandoned, the connection is
  // closed (a record set still reading from it gets an error) and the exception goes on to the
  // caller. It must not use this connection: a statement started from inside it is refused
  // with an error. Only the MySQL backend waits; FoxPro statements run in the program itself.
  // May be set before or after open.
  void setWaiting(Waiting waiting);

  void open(const std::string& connectionString);
  // Runs one statement; a statement with a result hands it back, otherwise nullptr. Takes any
  // text (a line of a larger buffer too) without copying it first.
  std::unique_ptr<Cursor> execute(std::string_view sql);
  std::unique_ptr<Cursor> openSchema(SchemaEnum schema);
  void close();
  int state() const { return backend_ ? adStateOpen : adStateClosed; }
  long long charactersReplaced() const;

  Backend& backend();  // throws when closed

 private:
  friend class RecordSet;
  std::unique_ptr<Cursor> openRecordSet(const std::string& sql, CursorType cursorType,
                                        LockType lockType);
  template <class F>
  auto closingOnAbandon(F&& call);

  ConnectionOptions options_;
  std::unique_ptr<Backend> backend_;
};

class RecordSet {
 public:
  RecordSet() = default;
  // Takes over an open cursor, such as the result of Connection::execute.
  explicit RecordSet(std::unique_ptr<Cursor> cursor) : cursor_(std::move(cursor)) {}

  void open(const std::string& sql, Connection& connection,
            CursorType cursorType = adOpenForwardOnly, LockType lockType = adLockReadOnly);
  void close() { cursor_.reset(); }
  int state() const { return cursor_ ? adStateOpen : adStateClosed; }
  // The open cursor behind the set, nullptr when closed: for a backend's own helpers.
  Cursor* openCursor() const { return cursor_.get(); }

  int fieldCount() const;
  const FieldInfo& field(int index) const;
  int fieldIndex(const std::string& name) const;  // case-insensitive; throws when absent
  const Value& value(int index) const;
  const Value& value(const std::string& name) const;

  long long recordCount() const;
  bool eof() const;
  void moveNext();

  void addNew();
  void setValue(int index, Value value);
  void update();

 private:
  Cursor& cursor() const;
  std::unique_ptr<Cursor> cursor_;
};

}  // namespace ado
