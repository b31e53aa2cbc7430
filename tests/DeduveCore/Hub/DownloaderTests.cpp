#include "DeduveCore/Hub/Downloader.hpp"

#include "platform/net/UrlError.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHub.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using deduve::Downloader;
using platform::UrlError;
using State = Downloader::DownloadState;
using Kind = State::Kind;
using mqtest::TestHub;
using Fault = TestHub::Fault;

constexpr int64_t kMiB = 1024 * 1024;
const std::string kRepo = "owner/model";

// Bytes that differ at every offset, so a shifted or repeated piece shows.
std::string patterned(size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = 12345;
  for (auto &byte : bytes) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<char>(x >> 23);
  }
  return bytes;
}

// The states after the replayed `notStarted`, up to the final one.
std::vector<State> collect(Downloader::StateStream &stream) {
  std::vector<State> states;
  while (auto state = stream.next()) {
    if (state->kind == Kind::notStarted) {
      EXPECT_TRUE(states.empty());
      continue;
    }
    states.push_back(*state);
    if (state->kind == Kind::completed || state->kind == Kind::failed) {
      break;
    }
  }
  return states;
}

template <class Error> const Error *errorOf(const State &state) {
  try {
    std::rethrow_exception(state.error);
  } catch (const Error &error) {
    static thread_local std::unique_ptr<Error> kept;
    kept = std::make_unique<Error>(error);
    return kept.get();
  } catch (...) {
    return nullptr;
  }
}

class DownloaderTest : public ::testing::Test {
protected:
  DownloaderTest() : hub_(dir_ / "hub") {}

  std::string addFile(const std::string &name, const std::string &bytes) {
    hub_.addFile("models", kRepo, name, bytes);
    return hub_.resolveUrl("models", kRepo, "main", name);
  }

  // Downloads with a recorded, instant retry wait. A transfer that retries without end fails
  // after kRetryGuard waits instead of hanging the test.
  std::vector<State> run(const std::string &url, std::optional<int64_t> expectedSize,
                         int retries = 5, std::function<void(const fs::path &)> verify = {},
                         std::optional<std::string> token = std::nullopt) {
    Downloader::Options options;
    options.retryWait = [this](std::chrono::nanoseconds delay, const std::atomic<bool> &) {
      waits_.push_back(delay);
      if (waits_.size() > kRetryGuard) {
        throw std::runtime_error("retried without end");
      }
    };
    Downloader downloader(destination_, partial_, false, options);
    Downloader::Request request;
    request.url = url;
    request.authToken = std::move(token);
    request.headers = {{"X-Test", "1"}};
    request.expectedSize = expectedSize;
    request.numRetries = retries;
    request.speedFloor = speedFloor_;
    request.verifyBeforeMove = std::move(verify);
    auto stream = downloader.download(std::move(request));
    return collect(*stream);
  }

  std::vector<TestHub::Request> gets() const {
    std::vector<TestHub::Request> result;
    for (const auto &request : hub_.requests()) {
      if (request.method == "GET") {
        result.push_back(request);
      }
    }
    return result;
  }

  mqtest::TempDir dir_;
  TestHub hub_;
  fs::path destination_ = dir_ / "repo" / "nested" / "file.bin";
  fs::path partial_ = dir_ / "file.bin.etag.incomplete";
  std::vector<std::chrono::nanoseconds> waits_;
  platform::SpeedFloor speedFloor_ = Downloader::kDefaultSpeedFloor;
  static constexpr size_t kRetryGuard = 20;
};

TEST_F(DownloaderTest, FreshDownloadLandsAtDestinationAndReplacesAnOldFile) {
  const std::string bytes = patterned(5000);
  const auto url = addFile("file.bin", bytes);
  for (const bool oldFilePresent : {false, true}) {
    SCOPED_TRACE(oldFilePresent ? "old file present" : "missing folders");
    if (oldFilePresent) {
      dir_.write("repo/nested/file.bin", "old contents");
    }
    const auto states = run(url, static_cast<int64_t>(bytes.size()));
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].kind, Kind::downloading);
    EXPECT_EQ(states[0].fraction, 0.0);
    EXPECT_FALSE(states[0].speed.has_value());
    ASSERT_EQ(states[1].kind, Kind::completed);
    EXPECT_EQ(states[1].destination, destination_);
    EXPECT_EQ(mqtest::TempDir::read(destination_), bytes);
    EXPECT_FALSE(fs::exists(partial_));
  }
  for (const auto &request : gets()) {
    EXPECT_FALSE(request.header("Range").has_value());
    EXPECT_EQ(request.header("X-Test"), "1");
    EXPECT_FALSE(request.header("Authorization").has_value());
  }
}

TEST_F(DownloaderTest, TheTokenGoesToTheHubButNotToTheFileServer) {
  const std::string bytes = patterned(2 * kMiB);
  const auto url = addFile("large.bin", bytes);
  const auto states = run(url, 2 * kMiB, 5, {}, std::string("secret"));
  ASSERT_EQ(states.back().kind, Kind::completed);
  EXPECT_EQ(mqtest::TempDir::read(destination_), bytes);
  const auto requests = gets();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].listener, "hub");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer secret");
  EXPECT_EQ(requests[1].listener, "cdn");
  EXPECT_FALSE(requests[1].header("Authorization").has_value());
}

TEST_F(DownloaderTest, ResumesFromThePartialFileAndCopesWithAServerIgnoringTheRange) {
  const std::string bytes = patterned(1000);
  const auto url = addFile("file.bin", bytes);
  struct Case {
    const char *name;
    size_t partialLength;
    bool serverIgnoresRange;
    std::optional<std::string> range; // of the one request, if any is made
  };
  const Case cases[] = {
      {"range honoured", 400, false, "bytes=400-"},
      // A 200 answer to the range request restarts from zero instead of appending the file.
      {"range ignored", 400, true, "bytes=400-"},
      // Left by a transfer stopped just before its move: nothing more to ask for.
      {"partial already complete", 1000, false, std::nullopt},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    hub_.clearFaults();
    hub_.clearRequests();
    if (c.serverIgnoresRange) {
      hub_.addFault(TestHub::Fault::ignoringRange());
    }
    fs::remove(destination_);
    dir_.write(partial_.filename().string(), bytes.substr(0, c.partialLength));

    const auto states = run(url, 1000);
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].kind, Kind::downloading);
    EXPECT_DOUBLE_EQ(states[0].fraction, static_cast<double>(c.partialLength) / 1000.0);
    ASSERT_EQ(states[1].kind, Kind::completed);
    EXPECT_EQ(mqtest::TempDir::read(destination_), bytes);
    const auto requests = gets();
    ASSERT_EQ(requests.size(), c.range ? 1u : 0u);
    if (c.range) {
      EXPECT_EQ(requests[0].header("Range"), c.range);
    }
  }
}

TEST_F(DownloaderTest, RejectedAnswersFailWithoutRetryAndDropAPartialFileThatCannotFit) {
  const std::string bytes = patterned(1000);
  const auto url = addFile("file.bin", bytes);
  struct Case {
    const char *name;
    std::optional<int> status; // a fault answer
    std::string partial;
    int64_t expectedSize;
    bool partialKept;
  };
  const Case cases[] = {
      {"not found", 404, bytes.substr(0, 10), 1000, true},
      {"server error", 500, "", 1000, true},
      {"partial longer than the file: 416", std::nullopt, bytes + "xx", 1000, false},
      {"length differs from the expected size", std::nullopt, "", 1001, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    hub_.clearFaults();
    hub_.clearRequests();
    waits_.clear();
    if (c.status) {
      hub_.addFault(TestHub::Fault::answering(*c.status));
    }
    fs::remove(partial_);
    dir_.write(partial_.filename().string(), c.partial);

    const auto states = run(url, c.expectedSize);
    ASSERT_FALSE(states.empty());
    ASSERT_EQ(states.back().kind, Kind::failed);
    const auto *error = errorOf<Downloader::DownloadError>(states.back());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), Downloader::DownloadErrorCode::unexpectedError);
    EXPECT_EQ(gets().size(), 1u);
    EXPECT_TRUE(waits_.empty());
    EXPECT_EQ(fs::exists(partial_), c.partialKept);
    EXPECT_FALSE(fs::exists(destination_));
  }
}

TEST_F(DownloaderTest, ABodyLongerThanTheExpectedSizeIsRefusedAsSoonAsItPassesIt) {
  const auto url = addFile("file.bin", patterned(5000));
  // The server then goes quiet: only a check made while the body streams ends the transfer.
  hub_.addFault(TestHub::Fault::stallingAfter(3000));
  dir_.write(partial_.filename().string(), "");

  const auto states = run(url, 1000);
  ASSERT_FALSE(states.empty());
  ASSERT_EQ(states.back().kind, Kind::failed);
  const auto *error = errorOf<Downloader::DownloadError>(states.back());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code(), Downloader::DownloadErrorCode::unexpectedError);
  EXPECT_TRUE(waits_.empty());
  EXPECT_FALSE(fs::exists(partial_));
  EXPECT_FALSE(fs::exists(destination_));
}

TEST_F(DownloaderTest, BodyDroppedAfterTwoBatchesResumesAtTheWrittenBytes) {
  const std::string bytes = patterned(21 * kMiB);
  const auto url = addFile("large.bin", bytes);
  hub_.addFault(TestHub::Fault::droppingAfter(20 * kMiB, "/cdn/").times(1));

  const auto states = run(url, 21 * kMiB);
  ASSERT_EQ(states.size(), 4u);
  EXPECT_EQ(states[0].fraction, 0.0);
  EXPECT_EQ(states[1].kind, Kind::downloading);
  EXPECT_DOUBLE_EQ(states[1].fraction, 10.0 / 21.0);
  EXPECT_DOUBLE_EQ(states[2].fraction, 20.0 / 21.0);
  ASSERT_EQ(states[3].kind, Kind::completed);
  EXPECT_EQ(mqtest::TempDir::read(destination_), bytes);

  ASSERT_EQ(waits_.size(), 1u);
  EXPECT_EQ(waits_[0], std::chrono::seconds(1));
  std::vector<std::optional<std::string>> cdnRanges;
  for (const auto &request : gets()) {
    if (request.listener == "cdn") {
      cdnRanges.push_back(request.header("Range"));
    }
  }
  ASSERT_EQ(cdnRanges.size(), 2u);
  EXPECT_FALSE(cdnRanges[0].has_value());
  EXPECT_EQ(cdnRanges[1], "bytes=20971520-");
}

TEST_F(DownloaderTest, BytesReceivedBeforeABreakAreKeptAndEachRetryResumesAfterThem) {
  const std::string bytes = patterned(50'000);
  const auto url = addFile("file.bin", bytes);
  hub_.addFault(TestHub::Fault::droppingAfter(12'000).times(3));

  const auto states = run(url, 50'000);
  ASSERT_EQ(states.back().kind, Kind::completed);
  EXPECT_EQ(mqtest::TempDir::read(destination_), bytes);
  EXPECT_EQ(waits_.size(), 3u);
  std::vector<std::optional<std::string>> ranges;
  for (const auto &request : gets()) {
    ranges.push_back(request.header("Range"));
  }
  EXPECT_EQ(ranges, (std::vector<std::optional<std::string>>{std::nullopt, "bytes=12000-",
                                                             "bytes=24000-", "bytes=36000-"}));
}

TEST_F(DownloaderTest, A206ThatIsNotTheRangeAskedForStartsTheFileOver) {
  const std::string bytes = patterned(1000);
  const std::string whole = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + bytes;
  const auto part = [&](size_t first, size_t length, const std::string &total) {
    return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
           std::to_string(first + length - 1) + "/" + total +
           "\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n" +
           bytes.substr(first, length);
  };
  struct Case {
    const char *name;
    std::string answer; // to the request for "bytes=400-"
    bool startedOver;
  };
  const Case cases[] = {
      {"the range asked for", part(400, 600, "1000"), false},
      {"bytes from the start of the file", part(0, 600, "1000"), true},
      {"a range of a file of another size", part(400, 600, "2000"), true},
      {"no Content-Range",
       "HTTP/1.1 206 Partial Content\r\nContent-Length: 600\r\n\r\n" + bytes.substr(400), true},
  };
  const std::string url = hub_.rawBaseUrl() + "/file.bin";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    hub_.setRawAnswers({c.answer, whole});
    hub_.clearRequests();
    fs::remove(destination_);
    dir_.write(partial_.filename().string(), bytes.substr(0, 400));

    const auto states = run(url, 1000);
    ASSERT_EQ(states.back().kind, Kind::completed);
    EXPECT_EQ(mqtest::TempDir::read(destination_), bytes);
    const auto requests = hub_.requests();
    ASSERT_EQ(requests.size(), c.startedOver ? 2u : 1u);
    EXPECT_EQ(requests[0].header("Range"), "bytes=400-");
    if (c.startedOver) {
      EXPECT_FALSE(requests[1].header("Range").has_value());
    }
    EXPECT_TRUE(waits_.empty());
  }

  // Without a range asked for, a 206 of another place has nothing to start over from.
  hub_.setRawAnswers({part(400, 600, "1000")});
  fs::remove(destination_);
  fs::remove(partial_);
  const auto states = run(url, 1000);
  ASSERT_EQ(states.back().kind, Kind::failed);
  const auto *error = errorOf<Downloader::DownloadError>(states.back());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code(), Downloader::DownloadErrorCode::unexpectedError);
  EXPECT_FALSE(fs::exists(destination_));
}

TEST_F(DownloaderTest, AnAnswerEndingShortKeepsItsBytesForTheNextDownload) {
  const std::string bytes = patterned(1000);
  const auto chunked = [](const std::string &body) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx", body.size());
    return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(size) +
           "\r\n" + body + "\r\n0\r\n\r\n";
  };
  // A complete answer of 600 bytes that never said how long the file is, then the rest.
  hub_.setRawAnswers({chunked(bytes.substr(0, 600)),
                      "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 600-999/1000\r\n"
                      "Content-Length: 400\r\n\r\n" +
                          bytes.substr(600)});
  const std::string url = hub_.rawBaseUrl() + "/file.bin";
  auto states = run(url, 1000);
  ASSERT_EQ(states.back().kind, Kind::failed);
  EXPECT_EQ(mqtest::TempDir::read(partial_), bytes.substr(0, 600));

  states = run(url, 1000);
  ASSERT_EQ(states.back().kind, Kind::completed);
  EXPECT_EQ(mqtest::TempDir::read(destination_), bytes);
  const auto requests = hub_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].header("Range"), "bytes=600-");
}

TEST_F(DownloaderTest, AServerThatNeverLetsTheFileGrowEndsTheTransfer) {
  // Every answer breaks off at 11 MiB, after one written batch; a range request is answered
  // from the file's start, so the partial file starts over each time and never gets further.
  const int64_t size = 12 * kMiB;
  const int64_t breaksAt = 11 * kMiB;
  const std::string bytes = patterned(static_cast<size_t>(size));
  const auto url = addFile("large.bin", bytes);
  hub_.setRawAnswerMaker([&](const TestHub::Request &request, size_t) {
    if (request.header("Range")) {
      return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-999/" +
             std::to_string(size) + "\r\nContent-Length: 1000\r\n\r\n" + bytes.substr(0, 1000);
    }
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n" +
           bytes.substr(0, static_cast<size_t>(breaksAt));
  });
  struct Case {
    const char *name;
    std::string url;
    size_t requests; // with one retry
  };
  const Case cases[] = {
      {"range ignored", url, 2},
      // The retry is a range request, a misplaced 206 and a request for the whole file.
      {"206 from the start of the file", hub_.rawBaseUrl() + "/large.bin", 3},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    hub_.clearFaults();
    hub_.clearRequests();
    waits_.clear();
    fs::remove(partial_);
    Fault fault = TestHub::Fault::ignoringRange("/cdn/");
    fault.dropAfterBytes = static_cast<uint64_t>(breaksAt);
    hub_.addFault(fault);

    const auto states = run(c.url, size, /*retries=*/1);
    ASSERT_EQ(states.back().kind, Kind::failed);
    const auto *error = errorOf<platform::UrlError>(states.back());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), platform::UrlError::Code::networkConnectionLost);
    EXPECT_EQ(waits_.size(), 1u);
    size_t requests = 0;
    for (const auto &request : hub_.requests()) {
      requests += request.listener != "hub" ? 1 : 0;
    }
    EXPECT_EQ(requests, c.requests);
    EXPECT_FALSE(fs::exists(destination_));
  }
}

TEST_F(DownloaderTest, ATrickleBelowTheSpeedFloorIsRetriedLikeABreak) {
  const std::string bytes = patterned(5000);
  const auto url = addFile("file.bin", bytes);
  speedFloor_ = {/*bytesPerSecond=*/500, /*seconds=*/1};
  struct Case {
    const char *name;
    int retries;
    Kind outcome;
  };
  const Case cases[] = {
      {"a retry left", 1, Kind::completed},
      {"no retry left", 0, Kind::failed},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    hub_.clearFaults();
    hub_.clearRequests();
    waits_.clear();
    fs::remove(partial_);
    fs::remove(destination_);
    // A byte every 20 ms: far too often for the ten-second idle timeout.
    hub_.addFault(TestHub::Fault::trickling(std::chrono::milliseconds(20)).times(1));

    const auto states = run(url, 5000, c.retries);
    ASSERT_EQ(states.back().kind, c.outcome);
    EXPECT_EQ(waits_.size(), static_cast<size_t>(c.retries));
    const auto requests = gets();
    ASSERT_EQ(requests.size(), static_cast<size_t>(c.retries) + 1);
    if (c.outcome == Kind::completed) {
      EXPECT_EQ(mqtest::TempDir::read(destination_), bytes);
      // The trickled bytes were kept: the retry resumes after them.
      EXPECT_EQ(requests[1].header("Range").value_or("").rfind("bytes=", 0), 0u);
    } else {
      const auto *error = errorOf<platform::UrlError>(states.back());
      ASSERT_NE(error, nullptr);
      EXPECT_EQ(error->code(), platform::UrlError::Code::timedOut);
    }
  }
}

TEST_F(DownloaderTest, RetriesAreLimitedWhenNoBatchGetsWritten) {
  const auto url = addFile("file.bin", patterned(5000));
  hub_.addFault(TestHub::Fault::droppingAfter(1000));

  const auto states = run(url, 5000, /*retries=*/2);
  ASSERT_EQ(states.back().kind, Kind::failed);
  const auto *error = errorOf<platform::UrlError>(states.back());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code(), platform::UrlError::Code::networkConnectionLost);
  EXPECT_EQ(gets().size(), 3u);
  EXPECT_EQ(waits_.size(), 2u);
  EXPECT_FALSE(fs::exists(destination_));
}

TEST_F(DownloaderTest, CancelReportsCancellationAndKeepsThePartialFile) {
  const auto url = addFile("file.bin", patterned(5000));
  hub_.addFault(TestHub::Fault::stallingAfter(1000));
  dir_.write(partial_.filename().string(), patterned(300));
  Downloader downloader(destination_, partial_);
  Downloader::Request request;
  request.url = url;
  request.expectedSize = 5000;
  auto stream = downloader.download(std::move(request));
  ASSERT_EQ(stream->next()->kind, Kind::notStarted);
  ASSERT_EQ(stream->next()->kind, Kind::downloading);
  downloader.cancel();
  const auto states = collect(*stream);
  ASSERT_FALSE(states.empty());
  ASSERT_EQ(states.back().kind, Kind::failed);
  const auto *error = errorOf<platform::UrlError>(states.back());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code(), platform::UrlError::Code::cancelled);
  EXPECT_EQ(mqtest::TempDir::read(partial_), patterned(300));
  EXPECT_FALSE(fs::exists(destination_));
}

TEST_F(DownloaderTest, NothingReplacesAFolderOrAFileThatFailedVerification) {
  const std::string bytes = patterned(3000);
  const auto url = addFile("file.bin", bytes);

  // A folder at the destination is never removed.
  dir_.write("repo/nested/file.bin/keep.txt", "keep");
  auto states = run(url, 3000);
  ASSERT_EQ(states.back().kind, Kind::failed);
  const auto *error = errorOf<Downloader::DownloadError>(states.back());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code(), Downloader::DownloadErrorCode::invalidDownloadLocation);
  EXPECT_EQ(mqtest::TempDir::read(destination_ / "keep.txt"), "keep");
  fs::remove_all(destination_);

  // A file refused by the check stays out of place.
  dir_.write("repo/nested/file.bin", "old contents");
  states = run(url, 3000, 5, [](const fs::path &) { throw std::runtime_error("digest differs"); });
  ASSERT_EQ(states.back().kind, Kind::failed);
  EXPECT_NE(errorOf<std::runtime_error>(states.back()), nullptr);
  EXPECT_EQ(mqtest::TempDir::read(destination_), "old contents");
}

} // namespace
