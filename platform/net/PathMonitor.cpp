#include "platform/net/PathMonitor.hpp"

#include <cstdint>
#include <mutex>
#include <thread>

#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

// Watches the kernel's routing messages for link and address changes and re-reads the
// interfaces after each, on one thread of its own. The thread shares its state through a
// shared pointer and closes its descriptors itself, so it may outlive the monitor object when
// the monitor is released from inside its own handler. It is a thread of its own rather than
// the shared pool's: it blocks in poll() on the netlink socket for as long as the monitor
// lives, which would hold a pool thread for good.
class SystemPathMonitor final : public PathMonitor {
public:
  SystemPathMonitor() : shared_(std::make_shared<Shared>()) {}
  ~SystemPathMonitor() override { cancel(); }

  void setUpdateHandler(Handler handler) override {
    std::lock_guard lock(shared_->mutex);
    shared_->handler = std::move(handler);
  }

  void start() override {
    std::lock_guard lock(shared_->mutex);
    if (thread_.joinable()) {
      shared_->wake();
      return;
    }
    if (shared_->stopping) {
      return; // cancelled for good
    }
    shared_->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    shared_->netlinkFd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (shared_->netlinkFd >= 0) {
      sockaddr_nl address{};
      address.nl_family = AF_NETLINK;
      address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
      if (bind(shared_->netlinkFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(shared_->netlinkFd);
        shared_->netlinkFd = -1; // no change events: the path is still read at every start()
      }
    }
    thread_ = std::thread([shared = shared_] { run(*shared); });
  }

  void cancel() override {
    std::thread thread;
    {
      std::lock_guard lock(shared_->mutex);
      if (!thread_.joinable()) {
        return;
      }
      shared_->stopping = true;
      shared_->wake();
      thread = std::move(thread_);
    }
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach(); // released from its own handler: the loop ends by itself
    } else {
      thread.join();
    }
  }

private:
  struct Shared {
    std::mutex mutex;
    Handler handler;
    bool stopping = false;
    int wakeFd = -1;
    int netlinkFd = -1;

    // Caller holds `mutex`.
    void wake() const {
      if (wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(wakeFd, &one, sizeof one);
      }
    }
  };

  static Path currentPath() {
    Path path;
    path.satisfied = false;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) {
      path.satisfied = true; // cannot tell: do not force offline work
      return path;
    }
    for (ifaddrs *entry = list; entry != nullptr; entry = entry->ifa_next) {
      if (entry->ifa_addr == nullptr) {
        continue;
      }
      const int family = entry->ifa_addr->sa_family;
      const unsigned flags = entry->ifa_flags;
      if ((family == AF_INET || family == AF_INET6) && (flags & IFF_UP) != 0 &&
          (flags & IFF_RUNNING) != 0 && (flags & IFF_LOOPBACK) == 0) {
        path.satisfied = true;
        break;
      }
    }
    freeifaddrs(list);
    return path;
  }

  // Delivers the current path unless stopping; false once stopping.
  static bool deliver(Shared &shared) {
    Handler handler;
    {
      std::lock_guard lock(shared.mutex);
      if (shared.stopping) {
        return false;
      }
      handler = shared.handler;
    }
    if (handler) {
      handler(currentPath());
    }
    return true;
  }

  static void run(Shared &shared) {
    int wakeFd = -1;
    int netlinkFd = -1;
    {
      std::lock_guard lock(shared.mutex);
      wakeFd = shared.wakeFd;
      netlinkFd = shared.netlinkFd;
    }
    bool going = deliver(shared);
    while (going) {
      pollfd fds[2] = {{wakeFd, POLLIN, 0}, {netlinkFd, POLLIN, 0}};
      if (poll(fds, netlinkFd >= 0 ? 2 : 1, -1) < 0) {
        continue; // interrupted
      }
      if ((fds[0].revents & POLLIN) != 0) {
        std::uint64_t value = 0;
        [[maybe_unused]] const auto bytes = read(wakeFd, &value, sizeof value);
      }
      if (netlinkFd >= 0 && (fds[1].revents & POLLIN) != 0) {
        char buffer[8192];
        while (recv(netlinkFd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
      }
      going = deliver(shared);
    }
    std::lock_guard lock(shared.mutex);
    if (shared.wakeFd >= 0) {
      close(shared.wakeFd);
      shared.wakeFd = -1;
    }
    if (shared.netlinkFd >= 0) {
      close(shared.netlinkFd);
      shared.netlinkFd = -1;
    }
  }

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

} // namespace

std::unique_ptr<PathMonitor> PathMonitor::makeSystemMonitor() {
  return std::make_unique<SystemPathMonitor>();
}

} // namespace platform
