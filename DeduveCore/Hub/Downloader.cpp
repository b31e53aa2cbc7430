#include "DeduveCore/Hub/Downloader.hpp"

#include "platform/net/HttpClient.hpp"
#include "platform/net/UrlError.hpp"
#include "platform/system/AtomicFileWriter.hpp"
#include "platform/system/FileDescriptor.hpp"
#include "platform/system/ThreadPool.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace deduve {

namespace {

const char *errorText(Downloader::DownloadErrorCode code) {
  switch (code) {
  case Downloader::DownloadErrorCode::invalidDownloadLocation:
    return "Download error: invalid download location";
  case Downloader::DownloadErrorCode::unexpectedError:
    return "Download error: unexpected error";
  case Downloader::DownloadErrorCode::tempFileNotFound:
    return "Download error: temporary file not found";
  }
  return "Download error";
}

[[noreturn]] void throwErrno(const std::string &what) {
  throw std::system_error(errno, std::generic_category(), what);
}

std::optional<int64_t> parseCount(std::string_view text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0) {
    return std::nullopt;
  }
  return value;
}

// True when a 206 answer's "Content-Range" ("bytes <first>-<last>/<total or *>") starts at
// `offset` and, when the size is known, belongs to a file of that size. A 206 without one, or
// with any other form, does not say where its bytes go.
bool contentRangeFits(const std::optional<std::string> &field, int64_t offset,
                      std::optional<int64_t> expectedSize) {
  constexpr std::string_view kUnit = "bytes ";
  if (!field || field->rfind(kUnit, 0) != 0) {
    return false;
  }
  const std::string_view range = std::string_view(*field).substr(kUnit.size());
  const auto dash = range.find('-');
  const auto slash = range.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) {
    return false;
  }
  const auto first = parseCount(range.substr(0, dash));
  const auto last = parseCount(range.substr(dash + 1, slash - dash - 1));
  const std::string_view totalText = range.substr(slash + 1);
  if (!first || !last || *first != offset || *last < *first) {
    return false;
  }
  if (totalText == "*" || !expectedSize) {
    return true;
  }
  const auto total = parseCount(totalText);
  return total && *total == *expectedSize && *last < *total;
}

} // namespace

Downloader::DownloadError::DownloadError(DownloadErrorCode code)
    : std::runtime_error(errorText(code)), code_(code) {}

Downloader::DownloadState Downloader::DownloadState::downloading(double fraction,
                                                                 std::optional<double> speed) {
  DownloadState state;
  state.kind = Kind::downloading;
  state.fraction = fraction;
  state.speed = speed;
  return state;
}

Downloader::DownloadState Downloader::DownloadState::completed(std::filesystem::path destination) {
  DownloadState state;
  state.kind = Kind::completed;
  state.destination = std::move(destination);
  return state;
}

Downloader::DownloadState Downloader::DownloadState::failed(std::exception_ptr error) {
  DownloadState state;
  state.kind = Kind::failed;
  state.error = std::move(error);
  return state;
}

Downloader::DownloadState Downloader::DownloadState::notStarted() { return DownloadState{}; }

// One run of `download`: its request and the sizes that the transfer thread keeps.
struct Downloader::Transfer {
  Request request;
  int64_t resumeSize = 0;

  // Bytes written to the partial file; touched by the transfer thread only.
  int64_t downloadedSize = 0;
  // Retries left for a body that breaks off; back to the request's count after every written
  // batch that extends the partial file past `furthestSize`.
  int retryAllowance = 5;
  // The longest the partial file has been in this transfer. Bytes written again after a
  // start-over (a range ignored or misplaced) are no progress: otherwise a server that breaks
  // off at the same place every time would restore the allowance on every attempt.
  int64_t furthestSize = 0;

  std::atomic<bool> cancelled{false};
  std::mutex waitMutex;
  std::condition_variable waitCondition;
};

// One request of a transfer and the bytes it has received but not yet written.
struct Downloader::Attempt {
  // A "Range" was asked for: the partial file already held bytes.
  bool askedForRange = false;
  // The answer was accepted and its body is being written.
  bool bodyStarted = false;
  // A 206 answer whose bytes belong elsewhere (see contentRangeFits): the file starts over.
  bool misplacedRange = false;
  // A whole-file answer whose "Content-Length" is not the expected size: its bytes are another
  // file's.
  bool otherFile = false;
  std::string writeBuffer;
  std::chrono::steady_clock::time_point lastReportTime = std::chrono::steady_clock::now();
  int64_t bytesAtLastReport = 0;
};

Downloader::Downloader(std::filesystem::path destination,
                       std::filesystem::path incompleteDestination, bool inBackground,
                       Options options)
    : destination_(std::move(destination)),
      incompleteDestination_(std::move(incompleteDestination)), inBackground_(inBackground),
      options_(std::move(options)),
      broadcaster_([] { return std::optional<DownloadState>(DownloadState::notStarted()); }) {}

Downloader::~Downloader() {
  stopTransfer();
  work_.close();
}

void Downloader::stopTransfer() {
  std::shared_ptr<Transfer> transfer;
  std::future<void> ended;
  {
    std::lock_guard guard(mutex_);
    transfer = transfer_;
    ended = std::move(transferEnded_);
  }
  if (transfer) {
    {
      std::lock_guard guard(transfer->waitMutex);
      transfer->cancelled = true;
    }
    transfer->waitCondition.notify_all();
  }
  if (ended.valid()) {
    ended.wait();
  }
}

std::unique_ptr<Downloader::StateStream> Downloader::download(Request request) {
  stopTransfer();

  auto transfer = std::make_shared<Transfer>();
  transfer->request = std::move(request);
  transfer->resumeSize = incompleteFileSize(incompleteDestination_);

  // Subscribing before the transfer starts keeps the set-up state from racing past the caller.
  auto stream = broadcaster_.subscribe();
  auto ended = std::make_shared<std::promise<void>>();
  std::lock_guard guard(mutex_);
  transfer_ = transfer;
  transferEnded_ = ended->get_future();
  // setUpDownload reports every failure as a state, so the promise is always kept.
  work_.post(platform::ThreadPool::shared(), [this, transfer, ended] {
    setUpDownload(transfer);
    ended->set_value();
  });
  return stream;
}

void Downloader::cancel() {
  std::shared_ptr<Transfer> transfer;
  {
    std::lock_guard guard(mutex_);
    transfer = transfer_;
  }
  if (transfer) {
    {
      std::lock_guard guard(transfer->waitMutex);
      transfer->cancelled = true;
    }
    transfer->waitCondition.notify_all();
  }
  broadcaster_.broadcast(DownloadState::failed(
      std::make_exception_ptr(platform::UrlError(platform::UrlError::Code::cancelled))));
}

void Downloader::setUpDownload(const std::shared_ptr<Transfer> &transfer) {
  transfer->downloadedSize = transfer->resumeSize;
  transfer->furthestSize = transfer->resumeSize;
  const auto &expectedSize = transfer->request.expectedSize;
  double initialFraction = 0.0;
  if (transfer->resumeSize >= 1 && expectedSize && *expectedSize >= 1) {
    initialFraction = std::min(1.0, static_cast<double>(transfer->resumeSize) /
                                        static_cast<double>(*expectedSize));
  }
  broadcaster_.broadcast(DownloadState::downloading(initialFraction, std::nullopt));

  try {
    // The hub file download creates the partial file; making it here too costs nothing and
    // lets a partial file removed after a bad answer come back empty.
    platform::FileDescriptor file(
        ::open(incompleteDestination_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (file.get() < 0) {
      throwErrno("cannot open " + incompleteDestination_.string());
    }
    if (transfer->resumeSize >= 1 && ::lseek(file.get(), 0, SEEK_END) < 0) {
      throwErrno("cannot seek in " + incompleteDestination_.string());
    }
    httpGet(*transfer, file.get());
    if (transfer->cancelled) {
      throw platform::UrlError(platform::UrlError::Code::cancelled);
    }
    file.reset();
    if (transfer->request.verifyBeforeMove) {
      transfer->request.verifyBeforeMove(incompleteDestination_);
    }
    moveDownloadedFile(incompleteDestination_, destination_);
    broadcaster_.broadcast(DownloadState::completed(destination_));
  } catch (...) {
    broadcaster_.broadcast(DownloadState::failed(std::current_exception()));
  }
}

void Downloader::httpGet(Transfer &transfer, int fd) {
  transfer.retryAllowance = transfer.request.numRetries;
  for (;;) {
    const auto &expectedSize = transfer.request.expectedSize;
    if (expectedSize && *expectedSize > 0 && transfer.downloadedSize == *expectedSize) {
      // Every byte is already in the partial file (a transfer stopped just before its move):
      // asking for more would only earn a 416.
      return;
    }
    switch (runAttempt(transfer, fd)) {
    case AttemptOutcome::finished:
      return;
    case AttemptOutcome::startOver:
      continue;
    case AttemptOutcome::retry:
      waitBeforeRetry(transfer);
      transfer.retryAllowance -= 1;
      continue;
    }
  }
}

Downloader::AttemptOutcome Downloader::runAttempt(Transfer &transfer, int fd) {
  static const platform::HttpClient client;
  const Request &wanted = transfer.request;
  platform::HttpRequest request;
  request.method = "GET";
  request.url = wanted.url;
  request.timeoutSeconds = wanted.timeout;
  request.speedFloor = wanted.speedFloor;
  request.followRedirects = true;
  for (const auto &[name, value] : wanted.headers) {
    request.headers.set(name, value);
  }
  if (wanted.authToken) {
    request.setBearerToken(wanted.authToken); // without a token, a caller's field stays
  }
  Attempt attempt;
  attempt.askedForRange = transfer.downloadedSize > 0;
  if (attempt.askedForRange) {
    request.headers.set("Range", "bytes=" + std::to_string(transfer.downloadedSize) + "-");
  }
  request.isCancelled = [&transfer] { return transfer.cancelled.load(); };
  attempt.writeBuffer.reserve(static_cast<size_t>(kWriteBatchSize));
  attempt.bytesAtLastReport = transfer.downloadedSize;

  try {
    const platform::HttpResponse head = client.stream(
        request,
        [&](const platform::HttpResponse &answer) {
          return acceptAnswer(transfer, attempt, fd, answer);
        },
        [&](std::string_view chunk) { receiveChunk(transfer, attempt, fd, chunk); });
    if (head.status == 416) {
      // The partial file does not fit the remote file (longer than it, or stale): drop it so
      // the next attempt starts clean.
      discardPartialFile();
      throw DownloadError(DownloadErrorCode::unexpectedError);
    }
    if (head.status < 200 || head.status > 299) {
      throw DownloadError(DownloadErrorCode::unexpectedError);
    }
    if (attempt.misplacedRange) {
      if (!attempt.askedForRange) {
        throw DownloadError(DownloadErrorCode::unexpectedError);
      }
      // The partial file cannot be trusted to match what this server sends: start it over,
      // with a request for the whole file.
      truncatePartialFile(transfer, fd);
      return AttemptOutcome::startOver;
    }
    finishBody(transfer, attempt, fd);
    return AttemptOutcome::finished;
  } catch (const platform::UrlError &error) {
    const bool cancelled =
        error.code() == platform::UrlError::Code::cancelled || transfer.cancelled;
    // The bytes that arrived before the break are in place: keep them, so the next attempt
    // (this transfer's or a later download's) resumes where they end.
    if (attempt.bodyStarted && !cancelled && !attempt.writeBuffer.empty()) {
      writeBuffered(transfer, attempt, fd, attempt.writeBuffer.size());
    }
    // Only a body that broke off is retried: a failure before the answer arrived, a
    // cancellation or an exhausted allowance ends the transfer.
    if (!attempt.bodyStarted || cancelled || transfer.retryAllowance <= 0) {
      throw;
    }
    return AttemptOutcome::retry;
  }
}

bool Downloader::acceptAnswer(Transfer &transfer, Attempt &attempt, int fd,
                              const platform::HttpResponse &answer) {
  if (answer.status < 200 || answer.status > 299) {
    return false;
  }
  if (answer.status == 206 &&
      !contentRangeFits(answer.headers.value("Content-Range"), transfer.downloadedSize,
                        transfer.request.expectedSize)) {
    // Appending these bytes would put them in the wrong place of the file.
    attempt.misplacedRange = true;
    return false;
  }
  if (answer.status == 200 && transfer.request.expectedSize) {
    const auto length = parseCount(answer.headers.value("Content-Length").value_or(""));
    attempt.otherFile = length && *length != *transfer.request.expectedSize;
  }
  if (attempt.askedForRange && answer.status != 206) {
    // The server ignored the range and sends the whole file: start over from zero rather
    // than appending its first bytes a second time.
    truncatePartialFile(transfer, fd);
    attempt.bytesAtLastReport = 0;
  }
  attempt.bodyStarted = true;
  return true;
}

void Downloader::receiveChunk(Transfer &transfer, Attempt &attempt, int fd,
                              std::string_view chunk) {
  const auto &expectedSize = transfer.request.expectedSize;
  if (expectedSize &&
      transfer.downloadedSize + static_cast<int64_t>(attempt.writeBuffer.size() + chunk.size()) >
          *expectedSize) {
    // More bytes than the hub announced: this is not the file, and an answer without end
    // would fill the disk before the final length check.
    discardPartialFile();
    throw DownloadError(DownloadErrorCode::unexpectedError);
  }
  attempt.writeBuffer.append(chunk);
  while (attempt.writeBuffer.size() >= static_cast<size_t>(kWriteBatchSize)) {
    const int64_t furthestBefore = transfer.furthestSize;
    writeBuffered(transfer, attempt, fd, static_cast<size_t>(kWriteBatchSize));
    reportProgress(transfer, attempt);
    if (transfer.downloadedSize > furthestBefore) {
      transfer.retryAllowance = transfer.request.numRetries;
    }
  }
}

void Downloader::reportProgress(const Transfer &transfer, Attempt &attempt) {
  const auto &expectedSize = transfer.request.expectedSize;
  if (!expectedSize) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  const double interval = std::chrono::duration<double>(now - attempt.lastReportTime).count();
  attempt.lastReportTime = now;
  const int64_t total = transfer.downloadedSize;
  const double fraction =
      *expectedSize == 0
          ? 0.0
          : std::min(1.0, static_cast<double>(total) / static_cast<double>(*expectedSize));
  std::optional<double> speed;
  if (interval > 0) {
    speed = static_cast<double>(total - attempt.bytesAtLastReport) / interval;
  }
  broadcaster_.broadcast(DownloadState::downloading(fraction, speed));
  attempt.bytesAtLastReport = total;
}

void Downloader::writeBuffered(Transfer &transfer, Attempt &attempt, int fd, size_t length) {
  platform::writeAll(fd, std::string_view(attempt.writeBuffer.data(), length),
                     incompleteDestination_);
  attempt.writeBuffer.erase(0, length);
  transfer.downloadedSize += static_cast<int64_t>(length);
  transfer.furthestSize = std::max(transfer.furthestSize, transfer.downloadedSize);
}

void Downloader::finishBody(Transfer &transfer, Attempt &attempt, int fd) {
  if (!attempt.writeBuffer.empty()) {
    writeBuffered(transfer, attempt, fd, attempt.writeBuffer.size());
  }
  const off_t length = ::lseek(fd, 0, SEEK_END);
  if (length < 0) {
    throwErrno("cannot seek in " + incompleteDestination_.string());
  }
  // A body longer than the expected size never gets here (receiveChunk), so a length that
  // differs is a short one. Unless the answer said it was another file, its bytes may well be
  // the start of this one: the next download resumes after them.
  const auto &expectedSize = transfer.request.expectedSize;
  if (expectedSize && *expectedSize != static_cast<int64_t>(length)) {
    if (attempt.otherFile) {
      discardPartialFile();
    }
    throw DownloadError(DownloadErrorCode::unexpectedError);
  }
}

void Downloader::truncatePartialFile(Transfer &transfer, int fd) {
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) < 0) {
    throwErrno("cannot truncate " + incompleteDestination_.string());
  }
  transfer.downloadedSize = 0;
}

void Downloader::discardPartialFile() {
  std::error_code ignored;
  std::filesystem::remove(incompleteDestination_, ignored);
}

void Downloader::waitBeforeRetry(Transfer &transfer) {
  if (options_.retryWait) {
    options_.retryWait(kRetryDelay, transfer.cancelled);
  } else {
    std::unique_lock lock(transfer.waitMutex);
    transfer.waitCondition.wait_for(lock, kRetryDelay,
                                    [&transfer] { return transfer.cancelled.load(); });
  }
  if (transfer.cancelled) {
    throw platform::UrlError(platform::UrlError::Code::cancelled);
  }
}

void Downloader::moveDownloadedFile(const std::filesystem::path &from,
                                    const std::filesystem::path &to) {
  namespace fs = std::filesystem;
  const auto status = fs::symlink_status(to);
  if (fs::exists(status) && fs::is_directory(status)) {
    throw DownloadError(DownloadErrorCode::invalidDownloadLocation);
  }
  if (to.has_parent_path()) {
    fs::create_directories(to.parent_path());
  }
  platform::moveFileReplacing(from, to);
}

int64_t Downloader::incompleteFileSize(const std::filesystem::path &file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) {
    return 0;
  }
  return static_cast<int64_t>(info.st_size);
}

} // namespace deduve
