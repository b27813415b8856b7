// A port on 127.0.0.1 that accepts connections (the system's backlog does) and never says a
// word, like a hung server: for tests of how long a client waits before it gives up.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace qmtest {

class MuteServer {
 public:
  MuteServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      throw std::runtime_error("no listening socket");
    port_ = ntohs(address.sin_port);
  }
  ~MuteServer() { ::close(fd_); }
  MuteServer(const MuteServer&) = delete;
  MuteServer& operator=(const MuteServer&) = delete;

  std::string port() const { return std::to_string(port_); }

 private:
  int fd_ = -1;
  unsigned port_ = 0;
};

}  // namespace qmtest
