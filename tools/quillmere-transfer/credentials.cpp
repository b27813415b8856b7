#include "credentials.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

namespace credentials {
namespace {

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// A value as MySQL's option files write it: quoted values keep their blanks and know the
// escapes \n \t \\ \" \'; unquoted ones end at a comment.
std::string optionValue(const std::string& raw) {
  std::string v = trim(raw);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'')) {
    const char quote = v.front();
    std::string out;
    for (size_t i = 1; i < v.size(); ++i) {
      if (v[i] == quote) return out;
      if (v[i] == '\\' && i + 1 < v.size()) {
        const char c = v[++i];
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c == 'b' ? '\b' : c;
      } else {
        out += v[i];
      }
    }
    return out;  // an unclosed quote keeps what follows it, as the server's own reader does
  }
  const auto comment = v.find_first_of("#");
  return trim(comment == std::string::npos ? v : v.substr(0, comment));
}

bool clientGroup(const std::string& name) {
  return name == "client" || name == "client-server" || name == "client-mariadb";
}

// Restores the terminal's echo however the prompt ends.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (tcgetattr(fd_, &saved_) == 0) {
      termios quiet = saved_;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      active_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
  }
  ~EchoOff() {
    if (active_) tcsetattr(fd_, TCSADRAIN, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// One line from fd, without its line end; false when nothing at all could be read.
bool readLine(int fd, std::string& line) {
  line.clear();
  bool any = false;
  for (char c; read(fd, &c, 1) == 1;) {
    any = true;
    if (c == '\n') return true;
    if (c != '\r') line += c;
  }
  return any;
}

// The prompt is a courtesy: a terminal that refuses it can still be read from.
void say(int fd, const char* text) {
  for (size_t left = std::char_traits<char>::length(text); left > 0;) {
    const ssize_t n = write(fd, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace

ClientOptions ReadClientGroup(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw std::runtime_error("cannot read the option file " + file);
  ClientOptions o;
  std::string line;
  bool inGroup = false, anyGroup = false;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string t = trim(line);
    if (t.empty() || t[0] == '#' || t[0] == ';') continue;
    const std::string where = file + ", line " + std::to_string(number);
    if (t[0] == '!') {
      // Following includes would mean reading files the user did not name; saying so beats
      // connecting with half the settings.
      throw std::runtime_error(where + ": " + t.substr(0, t.find_first_of(" \t")) +
                               " is not followed by quillmere-transfer; name the file itself");
    }
    if (t[0] == '[') {
      const auto close = t.find(']');
      if (close == std::string::npos) throw std::runtime_error(where + ": a group without ]");
      inGroup = clientGroup(trim(t.substr(1, close - 1)));
      anyGroup = true;
      continue;
    }
    if (!anyGroup) throw std::runtime_error(where + ": an option before any [group]");
    if (!inGroup) continue;
    const auto eq = t.find('=');
    std::string key = trim(t.substr(0, eq));
    for (char& c : key)
      if (c == '_') c = '-';
    const std::string value =
        eq == std::string::npos ? std::string() : optionValue(t.substr(eq + 1));
    if (key == "host")
      o.host = value;
    else if (key == "port")
      o.port = value;
    else if (key == "user")
      o.user = value;
    else if (key == "password")
      o.password = value;
    else if (key == "database")
      o.database = value;
  }
  return o;
}

std::string PromptPassword(const char* prompt) {
  Fd tty(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  std::string password;
  if (tty.get() >= 0) {
    bool got;
    {
      // Echo goes off before the prompt shows: switching it drops typed-ahead input, which
      // would otherwise take an answer given the moment the prompt appeared.
      EchoOff quiet(tty.get());
      say(tty.get(), prompt);
      got = readLine(tty.get(), password);
    }
    say(tty.get(), "\n");  // the user's Enter was not echoed either
    if (got) return password;
  } else if (readLine(STDIN_FILENO, password)) {
    return password;
  }
  throw std::runtime_error("no password could be read (no terminal, and standard input is empty)");
}

}  // namespace credentials
