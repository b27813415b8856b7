// The connection tests of module Foxpro: the silent ones the start-up sequence and "Next >" use,
// and the opening both they and the windows' "Test Connection" buttons make. None shows anything
// nor changes the pointer.
#pragma once

#include "ado/dataaccess.h"

namespace Foxpro {

// A FoxPro connection (server-side cursor) opens with FoxproConnectionString().
bool CanConnectFoxpro();
// A MySQL connection opens with MySQLConnectionString(). waiting: see
// ado::Connection::setWaiting; whatever it throws counts as "no".
bool CanConnectMySQL(const ado::Waiting& waiting = {});

// Open cn as the tests above do; false when it does not open. OpenMySQL lets a
// platform::ProgramEnding from waiting through, so that a window can stop without a word.
bool OpenFoxpro(ado::Connection& cn);
bool OpenMySQL(ado::Connection& cn, const ado::Waiting& waiting);

}  // namespace Foxpro
