// The two silent connection tests of module Foxpro, used by the start-up sequence and "Next >".
// Each opens a connection with the current connection string, releases it, and answers whether
// that worked; neither shows anything nor changes the pointer.
#pragma once

#include "ado/dataaccess.h"

namespace Foxpro {

// A FoxPro connection (server-side cursor) opens with FoxproConnectionString().
bool CanConnectFoxpro();
// A MySQL connection opens with MySQLConnectionString(). waiting: see
// ado::Connection::setWaiting; whatever it throws counts as "no".
bool CanConnectMySQL(const ado::Waiting& waiting = {});

}  // namespace Foxpro
