#pragma once

#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mqtest {

// A loopback port that refuses connections: bound (so no other process takes it) but never
// listening, for as long as the object lives.
class RefusingPort {
public:
  RefusingPort() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~RefusingPort() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  RefusingPort(const RefusingPort &) = delete;
  RefusingPort &operator=(const RefusingPort &) = delete;

  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
  int fd_ = -1;
  int port_ = 0;
};

} // namespace mqtest
