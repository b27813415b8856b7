// Deleting and renaming tables directly on either database, without the preview. The main
// window's buttons call these and keep their list in step with what the database now holds:
// an entry goes only when its table went, and a renamed entry shows the name the server stored.
//
// Every function throws (ado::DataAccessError with the server's or engine's own message, or
// platform::Error) when the database refuses; nothing is half done on the caller's side.
#pragma once

#include <QString>
#include <string>

#include "ado/dataaccess.h"

namespace Catalogue {

// A MySQL identifier between backticks, any backtick inside doubled, so that every name the
// server can hold (spaces, backticks, semicolons) reaches it as one name.
std::string MySqlQuotedName(const QString& name);
// "DROP TABLE `name`" and "RENAME TABLE `old` TO `new`", without a closing semicolon.
std::string MySqlDropStatement(const QString& name);
std::string MySqlRenameStatement(const QString& oldName, const QString& newName);

// "DROP TABLE `name`" for the FoxPro engine. Its quotes cannot be doubled, so a name holding a
// backtick is quoted with the first of [ ], " " and ' ' that it does not contain; throws
// platform::Error when it contains all of them.
std::string FoxproDropStatement(const QString& name);

// Opens its own connection, drops the table and closes the connection. waiting: see
// ado::Connection::setWaiting (the main window passes platform::YieldWhileWaiting).
void DropMySqlTable(const std::string& connectionString, const QString& name,
                    const ado::Waiting& waiting = {});
// Drops a FoxPro table (container member or free table) on an open connection.
void DropFoxproTable(ado::Connection& connection, const QString& name);

// What a rename did, when the server accepted it.
struct RenameOutcome {
  // The new name as the server stored it: a server that folds table names to lower case stores
  // "Archive2021" as "archive2021", and the list must show what the next statement will find.
  QString stored;
  // Set when the table was renamed but the listing that finds the stored name failed; stored is
  // then the name as asked.
  QString listingError;
};

// Opens its own connection and renames the table; throws when the server refuses the rename,
// and whatever waiting throws (it is not taken for a listing failure).
RenameOutcome RenameMySqlTable(const std::string& connectionString, const QString& oldName,
                               const QString& newName, const ado::Waiting& waiting = {});
// What the user is told when the rename went through but the listing after it failed.
QString RenamedButUnlistedText(const QString& oldName, const QString& newName,
                               const QString& listingError);

}  // namespace Catalogue
