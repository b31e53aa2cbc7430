#include "tests/support/TestHub.hpp"

#include "tests/support/TestHubImpl.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace mqtest {

using namespace hubdetail;

std::optional<std::string> TestHub::Request::header(const std::string &name) const {
  for (const auto &[key, value] : headers) {
    if (equalsIgnoringCase(key, name)) {
      return value;
    }
  }
  return std::nullopt;
}

std::optional<TestHub::Fault> TestHub::Impl::takeFault(const std::string &listener,
                                                       const std::string &method,
                                                       const std::string &path) {
  std::lock_guard lock(mutex);
  for (auto &fault : faults) {
    if (fault.usesLeft == 0) {
      continue;
    }
    if ((!fault.method.empty() && fault.method != method) ||
        (!fault.listener.empty() && fault.listener != listener) ||
        path.rfind(fault.pathPrefix, 0) != 0) {
      continue;
    }
    if (fault.usesLeft > 0) {
      --fault.usesLeft;
    }
    return fault;
  }
  return std::nullopt;
}

// Waits one trickle interval; false once the stalls are released (the answer should end).
bool TestHub::Impl::trickleWait(std::chrono::milliseconds interval) {
  std::unique_lock lock(stallMutex);
  return !stallChanged.wait_for(lock, interval, [this] { return stallsReleased; });
}

// A content provider that sends `body` from `offset` one byte per interval.
httplib::ContentProvider TestHub::Impl::trickleProvider(std::shared_ptr<const std::string> body,
                                                        std::chrono::milliseconds interval) {
  return [this, body, interval](std::size_t offset, std::size_t, httplib::DataSink &sink) {
    return offset < body->size() && sink.write(body->data() + offset, 1) && trickleWait(interval);
  };
}

void TestHub::Impl::waitForRelease() {
  std::unique_lock lock(stallMutex);
  ++stallCount;
  stallChanged.notify_all();
  stallChanged.wait(lock, [this] { return stallsReleased; });
}

TestHub::TestHub(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  if (impl_->options.root.empty()) {
    throw std::invalid_argument("TestHub: a root folder is required");
  }
  std::filesystem::create_directories(impl_->options.root);
  Impl *impl = impl_.get();
  impl->hub.Get(".*", [impl](const httplib::Request &req, httplib::Response &res) {
    impl->handle("hub", req, res);
  });
  impl->cdn.Get(".*", [impl](const httplib::Request &req, httplib::Response &res) {
    impl->handle("cdn", req, res);
  });
  for (auto *server : {&impl->hub, &impl->cdn}) {
    server->set_keep_alive_timeout(1);
    server->set_read_timeout(10);
    server->set_write_timeout(10);
  }
  impl->hubPort = impl->hub.bind_to_any_port("127.0.0.1");
  impl->cdnPort = impl->cdn.bind_to_any_port("127.0.0.1");
  if (impl->hubPort <= 0 || impl->cdnPort <= 0) {
    throw std::runtime_error("TestHub: cannot bind to 127.0.0.1");
  }
  impl->startRaw();
  impl->hubThread = std::thread([impl] {
    impl->hub.listen_after_bind();
    impl->hubEnded = true;
  });
  impl->cdnThread = std::thread([impl] {
    impl->cdn.listen_after_bind();
    impl->cdnEnded = true;
  });
  // stop() only acts on a running server, so wait until both accept loops have started.
  while ((!impl->hub.is_running() && !impl->hubEnded) ||
         (!impl->cdn.is_running() && !impl->cdnEnded)) {
    std::this_thread::yield();
  }
}

TestHub::TestHub(std::filesystem::path root)
    : TestHub([&] {
        Options options;
        options.root = std::move(root);
        return options;
      }()) {}

TestHub::Fault TestHub::Fault::answering(int status, std::string pathPrefix) {
  Fault fault;
  fault.status = status;
  fault.pathPrefix = std::move(pathPrefix);
  return fault;
}

TestHub::Fault TestHub::Fault::droppingAfter(std::uint64_t bytes, std::string pathPrefix) {
  Fault fault;
  fault.dropAfterBytes = bytes;
  fault.pathPrefix = std::move(pathPrefix);
  return fault;
}

TestHub::Fault TestHub::Fault::stallingAfter(std::uint64_t bytes, std::string pathPrefix) {
  Fault fault;
  fault.stallAfterBytes = bytes;
  fault.pathPrefix = std::move(pathPrefix);
  return fault;
}

TestHub::Fault TestHub::Fault::ignoringRange(std::string pathPrefix) {
  Fault fault;
  fault.ignoreRange = true;
  fault.pathPrefix = std::move(pathPrefix);
  return fault;
}

TestHub::Fault TestHub::Fault::trickling(std::chrono::milliseconds interval,
                                         std::string pathPrefix) {
  Fault fault;
  fault.trickleInterval = interval;
  fault.pathPrefix = std::move(pathPrefix);
  return fault;
}

TestHub::Fault TestHub::Fault::times(int count) && {
  usesLeft = count;
  return std::move(*this);
}

TestHub::~TestHub() {
  releaseStalls();
  impl_->hub.stop();
  impl_->cdn.stop();
  impl_->hubThread.join();
  impl_->cdnThread.join();
  impl_->stopRaw();
}

std::string TestHub::baseUrl() const { return "http://127.0.0.1:" + std::to_string(port()); }
std::string TestHub::cdnBaseUrl() const { return "http://127.0.0.1:" + std::to_string(cdnPort()); }
std::string TestHub::rawBaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(impl_->rawPort);
}
int TestHub::port() const { return impl_->hubPort; }
int TestHub::cdnPort() const { return impl_->cdnPort; }
const std::string &TestHub::commit() const { return impl_->options.commit; }
const std::filesystem::path &TestHub::root() const { return impl_->options.root; }

std::filesystem::path TestHub::addFile(const std::string &kind, const std::string &repoId,
                                       const std::string &relativePath,
                                       const std::string &contents) {
  const auto file = impl_->options.root / kind / repoId / relativePath;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) {
    throw std::runtime_error("TestHub: cannot write " + file.string());
  }
  return file;
}

std::string TestHub::resolveUrl(const std::string &kind, const std::string &repoId,
                                const std::string &revision,
                                const std::string &relativePath) const {
  std::string url = baseUrl();
  if (kind != "models") {
    url += "/" + kind;
  }
  return url + "/" + encodePath(repoId) + "/resolve/" + encodeSegment(revision) + "/" +
         encodePath(relativePath);
}

void TestHub::addFault(Fault fault) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults.push_back(std::move(fault));
}

void TestHub::clearFaults() {
  std::lock_guard lock(impl_->mutex);
  impl_->faults.clear();
}

void TestHub::addRelativeRedirect(std::string fromPrefix, std::string toPrefix, int status) {
  std::lock_guard lock(impl_->mutex);
  impl_->redirects.push_back({std::move(fromPrefix), std::move(toPrefix), status});
}

void TestHub::setRawAnswers(std::vector<std::string> answers) {
  if (answers.empty()) {
    setRawAnswerMaker(nullptr);
    return;
  }
  setRawAnswerMaker([answers = std::move(answers)](const Request &, std::size_t index) {
    return answers[std::min(index, answers.size() - 1)];
  });
}

void TestHub::setRawAnswerMaker(RawAnswerMaker answer) {
  std::lock_guard lock(impl_->mutex);
  impl_->rawAnswer = std::move(answer);
  impl_->rawServed = 0;
}

void TestHub::waitForStalls(std::size_t count) {
  std::unique_lock lock(impl_->stallMutex);
  impl_->stallChanged.wait(
      lock, [this, count] { return impl_->stallCount >= count || impl_->stallsReleased; });
}

void TestHub::releaseStalls() {
  {
    std::lock_guard lock(impl_->stallMutex);
    impl_->stallsReleased = true;
  }
  impl_->stallChanged.notify_all();
}

std::vector<TestHub::Request> TestHub::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->log;
}

void TestHub::clearRequests() {
  std::lock_guard lock(impl_->mutex);
  impl_->log.clear();
}

std::string TestHub::sha256Hex(const std::string &bytes) {
  return hexDigest(EVP_sha256(), "", bytes);
}

std::string TestHub::gitBlobSha1Hex(const std::string &bytes) {
  return hexDigest(EVP_sha1(), "blob " + std::to_string(bytes.size()) + std::string(1, '\0'),
                   bytes);
}

} // namespace mqtest
