#pragma once

#include "DeduveCore/Hub/Broadcaster.hpp"
#include "platform/net/HttpClient.hpp"
#include "platform/system/RunInBackground.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace deduve {

// Fetches one remote file over HTTP(S) into a partial file, resumes from the bytes already in
// it, retries network failures of the body, reports its progress as a stream of states, and on
// success moves the partial file onto the destination.
//
// Thread-safety: `download` and `cancel` may be called from any thread. The transfer runs on
// the shared thread pool; destroying the downloader cancels the transfer and waits for it to
// end.
class Downloader {
public:
  enum class DownloadErrorCode { invalidDownloadLocation, unexpectedError, tempFileNotFound };

  class DownloadError : public std::runtime_error {
  public:
    explicit DownloadError(DownloadErrorCode code);
    DownloadErrorCode code() const { return code_; }

  private:
    DownloadErrorCode code_;
  };

  struct DownloadState {
    enum class Kind { downloading, completed, failed, notStarted };
    Kind kind = Kind::notStarted;
    double fraction = 0.0;             // downloading: share of the expected size
    std::optional<double> speed;       // downloading: bytes per second, when measurable
    std::filesystem::path destination; // completed
    std::exception_ptr error;          // failed

    static DownloadState downloading(double fraction, std::optional<double> speed);
    static DownloadState completed(std::filesystem::path destination);
    static DownloadState failed(std::exception_ptr error);
    static DownloadState notStarted();
  };

  using StateStream = Broadcaster<DownloadState>::Stream;
  using Headers = std::map<std::string, std::string>;

  struct Options {
    // Waits between a failed body and its retry; must return early (and may throw) once
    // `cancelled` turns true. Default: waits the given time on a steady clock.
    std::function<void(std::chrono::nanoseconds delay, const std::atomic<bool> &cancelled)>
        retryWait;
  };

  // Bytes collected before each write to the partial file; progress is reported per write.
  static constexpr int64_t kWriteBatchSize = 10'485'760;
  static constexpr std::chrono::nanoseconds kRetryDelay = std::chrono::seconds(1);
  // Below 1 KiB/s for a minute a transfer is as good as stalled (a minute, so that a server
  // slow to start its answer is not cut short before the hub's own one-minute time-out).
  static constexpr platform::SpeedFloor kDefaultSpeedFloor{/*bytesPerSecond=*/1024,
                                                           /*seconds=*/60};

  Downloader(std::filesystem::path destination, std::filesystem::path incompleteDestination,
             bool inBackground = false, Options options = {});
  ~Downloader();
  Downloader(const Downloader &) = delete;
  Downloader &operator=(const Downloader &) = delete;

  // What one download fetches, and how.
  struct Request {
    // Absolute http(s) URL of the file; redirects are followed.
    std::string url;
    // Bearer token; absent: no "Authorization" is set (a caller's field in `headers` stays).
    // Never sent to a host other than the URL's (see HttpClient).
    std::optional<std::string> authToken;
    // Extra header fields of every request of the transfer.
    Headers headers;
    // Size of the whole file in bytes, when known: progress fractions, the overflow check and
    // the final length check use it.
    std::optional<int64_t> expectedSize;
    // Idle timeout of each request, in seconds.
    double timeout = 10.0;
    // Retries of a body that broke off; the allowance returns after every written batch that
    // takes the partial file further than it has been in this transfer.
    int numRetries = 5;
    // A request slower than this for that long fails, and is retried like a body that broke
    // off.
    platform::SpeedFloor speedFloor = kDefaultSpeedFloor;
    // Called with the finished partial file before it is moved into place; an exception from
    // it fails the download and leaves the destination untouched. Empty: no check.
    std::function<void(const std::filesystem::path &)> verifyBeforeMove;
  };

  // Starts (or restarts) the transfer and returns a stream of its states: first the latest
  // state (`notStarted` before any), then `downloading` at set-up and after every written
  // batch when the size is known, and finally `completed` or `failed`. The stream stays open
  // after the last state; the consumer stops reading on `completed` or `failed`.
  //
  // A 206 answer whose "Content-Range" is not the range asked for (or names another size)
  // never has its bytes appended: the partial file starts over from zero. Bytes received
  // before a connection breaks are written before the retry, which resumes after them. Bytes
  // written again after a start-over do not restore the retry allowance, so a server that
  // never lets the file grow ends the transfer once the allowance is spent. A final length
  // short of the expected size fails but keeps the partial file for the next download.
  std::unique_ptr<StateStream> download(Request request);

  // Stops the transfer and reports `failed` with a cancelled network error. Safe at any time.
  void cancel();

  const std::filesystem::path &destination() const { return destination_; }
  const std::filesystem::path &incompleteDestination() const { return incompleteDestination_; }
  int64_t chunkSize() const { return chunkSize_; }
  bool inBackground() const { return inBackground_; }

  // Moves `from` onto `to`, creating the missing folders above `to`. An existing regular file
  // (or link) at `to` is replaced; a folder there is never removed: that fails with
  // `invalidDownloadLocation`.
  static void moveDownloadedFile(const std::filesystem::path &from,
                                 const std::filesystem::path &to);
  // Size in bytes of a file; 0 when it is missing or unreadable.
  static int64_t incompleteFileSize(const std::filesystem::path &file);

private:
  struct Transfer;
  struct Attempt;
  enum class AttemptOutcome { finished, startOver, retry };

  void setUpDownload(const std::shared_ptr<Transfer> &transfer);
  // Streams the file into the open partial file `fd`, one attempt after another.
  void httpGet(Transfer &transfer, int fd);
  // One request: its answer checked, its body written, its failure sorted into a retry or an
  // error.
  AttemptOutcome runAttempt(Transfer &transfer, int fd);
  bool acceptAnswer(Transfer &transfer, Attempt &attempt, int fd,
                    const platform::HttpResponse &answer);
  void receiveChunk(Transfer &transfer, Attempt &attempt, int fd, std::string_view chunk);
  void reportProgress(const Transfer &transfer, Attempt &attempt);
  void writeBuffered(Transfer &transfer, Attempt &attempt, int fd, size_t length);
  void finishBody(Transfer &transfer, Attempt &attempt, int fd);
  void truncatePartialFile(Transfer &transfer, int fd);
  void discardPartialFile();
  void waitBeforeRetry(Transfer &transfer);
  void stopTransfer();

  std::filesystem::path destination_;
  std::filesystem::path incompleteDestination_;
  bool inBackground_;
  Options options_;
  int64_t chunkSize_ = kWriteBatchSize;
  Broadcaster<DownloadState> broadcaster_;

  std::mutex mutex_; // guards the fields below
  std::shared_ptr<Transfer> transfer_;
  std::future<void> transferEnded_;
  // Last: closed first, before the fields the transfer uses go.
  platform::BackgroundScope work_;
};

} // namespace deduve
