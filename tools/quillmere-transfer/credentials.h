// Where quillmere-transfer takes the MySQL password and other login details from, as MySQL's own
// clients do, so a password never has to stand on a command line that `ps` shows other users.
//
// Precedence, strongest first: the command line (--mysql-password TEXT, --password=TEXT, -pTEXT,
// or the prompt of -p / --password alone), the [client] group of --defaults-extra-file, the
// MYSQL_PWD environment variable, and last the settings the program stored.
#pragma once

#include <optional>
#include <string>

namespace credentials {

// The [client] group of a MySQL option file: the keys this tool uses, each present only when the
// file sets it.
struct ClientOptions {
  std::optional<std::string> host, port, user, password, database;
};

// Reads FILE's [client] group (and [client-server], [client-mariadb], which MariaDB's clients read
// as well). Throws std::runtime_error naming the file and line when it cannot be read or holds
// something this tool would misread (an !include it does not follow, a line outside any group).
ClientOptions ReadClientGroup(const std::string& file);

// Asks for the password on the terminal without echoing it; without a terminal it reads one line
// from standard input, so `echo secret | quillmere-transfer -p ...` works as mysql's does.
// Throws std::runtime_error when neither can be read.
std::string PromptPassword(const char* prompt = "Enter password: ");

}  // namespace credentials
