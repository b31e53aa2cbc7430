#include "tests/support/TestHubImpl.hpp"

#include <stdexcept>

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mqtest {

using namespace hubdetail;

void TestHub::Impl::startRaw() {
  rawFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  rawWake = ::eventfd(0, EFD_CLOEXEC);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (rawFd < 0 || rawWake < 0 ||
      ::bind(rawFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      ::listen(rawFd, 16) != 0 ||
      ::getsockname(rawFd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    throw std::runtime_error("TestHub: cannot start the raw listener");
  }
  rawPort = ntohs(address.sin_port);
  rawThread = std::thread([this] { serveRaw(); });
}

void TestHub::Impl::stopRaw() {
  if (rawThread.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(rawWake, &one, sizeof one);
    rawThread.join();
  }
  for (const int fd : {rawFd, rawWake}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

// One connection at a time: read the header block, log it, write the answer, close.
void TestHub::Impl::serveRaw() {
  while (true) {
    pollfd waiting[2] = {{rawFd, POLLIN, 0}, {rawWake, POLLIN, 0}};
    if (::poll(waiting, 2, -1) < 0 || (waiting[1].revents & POLLIN) != 0) {
      return;
    }
    const int client = ::accept4(rawFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      continue;
    }
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kPiece) {
      pollfd reading[2] = {{client, POLLIN, 0}, {rawWake, POLLIN, 0}};
      if (::poll(reading, 2, 10'000) <= 0 || (reading[1].revents & POLLIN) != 0) {
        break;
      }
      const auto received = ::recv(client, buffer, sizeof buffer, 0);
      if (received <= 0) {
        break;
      }
      request.append(buffer, static_cast<std::size_t>(received));
    }
    RawAnswerMaker maker;
    std::size_t index = 0;
    const Request entry = parseRawRequest(request);
    {
      std::lock_guard lock(mutex);
      log.push_back(entry);
      maker = rawAnswer;
      index = rawServed++;
    }
    const std::string answer = maker ? maker(entry, index) : std::string();
    for (std::size_t offset = 0; offset < answer.size();) {
      const auto sent =
          ::send(client, answer.data() + offset, answer.size() - offset, MSG_NOSIGNAL);
      if (sent <= 0) {
        break; // the client gave up on the answer
      }
      offset += static_cast<std::size_t>(sent);
    }
    ::shutdown(client, SHUT_RDWR);
    ::close(client);
  }
}

TestHub::Request TestHub::Impl::parseRawRequest(const std::string &text) {
  Request entry;
  entry.listener = "raw";
  std::size_t start = 0;
  bool first = true;
  while (start < text.size()) {
    auto end = text.find("\r\n", start);
    if (end == std::string::npos || end == start) {
      break;
    }
    const std::string line = text.substr(start, end - start);
    start = end + 2;
    if (first) {
      first = false;
      const auto space = line.find(' ');
      const auto second = line.find(' ', space + 1);
      entry.method = line.substr(0, space);
      if (space != std::string::npos) {
        entry.target = line.substr(space + 1, second - space - 1);
        entry.path = decode(entry.target.substr(0, entry.target.find('?')));
      }
      continue;
    }
    const auto colon = line.find(':');
    if (colon != std::string::npos) {
      const auto value = line.find_first_not_of(' ', colon + 1);
      entry.headers.emplace_back(line.substr(0, colon),
                                 value == std::string::npos ? "" : line.substr(value));
    }
  }
  return entry;
}

} // namespace mqtest
