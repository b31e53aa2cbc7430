#include "app/support/AppLog.hpp"

#include <cstdio>
#include <mutex>

namespace murmurquill {

LogSink standardOutputLog() {
  return [](const std::string &line) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  };
}

} // namespace murmurquill
