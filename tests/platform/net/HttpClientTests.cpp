#include "platform/net/HttpClient.hpp"

#include <atomic>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "platform/net/HttpUrl.hpp"
#include "platform/net/UrlError.hpp"
#include "tests/support/RefusingPort.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHub.hpp"

namespace {

using platform::HttpClient;
using platform::HttpRequest;
using platform::HttpResponse;
using platform::UrlError;
using Fault = mqtest::TestHub::Fault;

std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  }
  return bytes;
}

class HttpClientTest : public ::testing::Test {
protected:
  mqtest::TempDir dir;
  mqtest::TestHub hub{[this] {
    mqtest::TestHub::Options options;
    options.root = dir / "hub";
    options.largeFileThreshold = 4096;
    return options;
  }()};
  platform::HttpClient client;
  std::string small = pattern(1000);
  std::string large = pattern(10000);

  void SetUp() override {
    hub.addFile("models", "owner/name", "small.txt", small);
    hub.addFile("models", "owner/name", "dir/large.bin", large);
  }

  platform::HttpRequest get(const std::string &file) const {
    platform::HttpRequest request;
    request.url = hub.resolveUrl("models", "owner/name", "main", file);
    return request;
  }

  platform::UrlError::Code failureOf(const platform::HttpRequest &request) const {
    try {
      client.send(request);
    } catch (const platform::UrlError &error) {
      return error.code();
    }
    ADD_FAILURE() << "no UrlError for " << request.url;
    return platform::UrlError::Code::unknown;
  }
};

TEST_F(HttpClientTest, AnswersCarryStatusHeadersAndBodyForEveryStatus) {
  platform::HttpResponse ok = client.send(get("small.txt"));
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, small);
  EXPECT_EQ(ok.headers.value("x-repo-commit"), hub.commit());
  EXPECT_EQ(ok.headers.value("ETAG"), "\"" + mqtest::TestHub::gitBlobSha1Hex(small) + "\"");

  platform::HttpRequest head = get("small.txt");
  head.method = "HEAD";
  platform::HttpResponse headAnswer = client.send(head);
  EXPECT_EQ(headAnswer.status, 200);
  EXPECT_TRUE(headAnswer.body.empty());
  EXPECT_EQ(headAnswer.headers.value("Content-Length"), "1000");

  // A status is an answer, not a transport failure.
  EXPECT_EQ(client.send(get("missing.txt")).status, 404);
  hub.addFault(Fault::answering(500, "/owner/name/resolve/main/small.txt"));
  EXPECT_EQ(client.send(get("small.txt")).status, 500);
}

TEST_F(HttpClientTest, ByteRanges) {
  struct Case {
    std::string range;
    int status;
    std::string body;
    std::string contentRange;
  };
  const Case cases[] = {
      {"bytes=990-", 206, small.substr(990), "bytes 990-999/1000"},
      {"bytes=0-9", 206, small.substr(0, 10), "bytes 0-9/1000"},
      {"bytes=1000-", 416, "", "bytes */1000"},
      {"bytes=5000-", 416, "", "bytes */1000"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.range);
    platform::HttpRequest request = get("small.txt");
    request.headers.add("Range", c.range);
    const platform::HttpResponse answer = client.send(request);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.body, c.body);
    EXPECT_EQ(answer.headers.value("Content-Range"), c.contentRange);
  }
  hub.addFault(Fault::ignoringRange());
  platform::HttpRequest request = get("small.txt");
  request.headers.add("Range", "bytes=990-");
  const platform::HttpResponse whole = client.send(request);
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body, small);
}

TEST_F(HttpClientTest, RedirectsAreFollowedOnlyWhenAskedAndTheTokenStaysOnItsHost) {
  platform::HttpRequest request = get("dir/large.bin");
  request.setBearerToken("secret");
  const platform::HttpResponse unfollowed = client.send(request);
  EXPECT_EQ(unfollowed.status, 302);
  ASSERT_TRUE(unfollowed.headers.value("Location"));
  EXPECT_EQ(unfollowed.headers.value("Location")->rfind(hub.cdnBaseUrl(), 0), 0u);
  EXPECT_EQ(unfollowed.headers.value("X-Linked-Size"), "10000");

  hub.clearRequests();
  request.followRedirects = true;
  const platform::HttpResponse followed = client.send(request);
  EXPECT_EQ(followed.status, 200);
  EXPECT_EQ(followed.body, large);
  EXPECT_EQ(followed.url, *unfollowed.headers.value("Location"));

  const auto log = hub.requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].listener, "hub");
  EXPECT_EQ(log[0].header("Authorization"), "Bearer secret");
  EXPECT_EQ(log[1].listener, "cdn");
  EXPECT_FALSE(log[1].header("Authorization")) << "token leaked to another host";
}

TEST_F(HttpClientTest, RedirectLoopsAreCapped) {
  hub.addRelativeRedirect("/loop", "/loop");
  platform::HttpRequest request;
  request.url = hub.baseUrl() + "/loop";
  request.followRedirects = true;
  request.maxRedirects = 5;
  EXPECT_EQ(failureOf(request), platform::UrlError::Code::httpTooManyRedirects);
  EXPECT_EQ(hub.requests().size(), 6u);
}

TEST_F(HttpClientTest, StreamingDeliversTheHeadBeforeTheBody) {
  std::string received;
  int headsSeen = 0;
  platform::HttpRequest request = get("dir/large.bin");
  request.followRedirects = true;
  const platform::HttpResponse head = client.stream(
      request,
      [&](const platform::HttpResponse &answer) {
        EXPECT_TRUE(received.empty());
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.headers.value("Content-Length"), "10000");
        ++headsSeen;
        return true;
      },
      [&](std::string_view chunk) {
        EXPECT_EQ(headsSeen, 1);
        EXPECT_FALSE(chunk.empty());
        received.append(chunk);
      });
  EXPECT_EQ(headsSeen, 1);
  EXPECT_EQ(head.status, 200);
  EXPECT_TRUE(head.body.empty());
  EXPECT_EQ(received, large);

  // Declining the head ends the call quietly without reading the body.
  std::size_t bytes = 0;
  const platform::HttpResponse declined = client.stream(
      get("small.txt"), [](const platform::HttpResponse &) { return false; },
      [&](std::string_view chunk) { bytes += chunk.size(); });
  EXPECT_EQ(declined.status, 200);
  EXPECT_EQ(bytes, 0u);
}

TEST_F(HttpClientTest, TransportFailuresMapToPlatformCodes) {
  // A body cut short after some bytes were delivered.
  hub.addFault(Fault::droppingAfter(300, "/owner/name/resolve/main/small.txt").times(1));
  std::string received;
  try {
    client.stream(get("small.txt"), nullptr, [&](std::string_view c) { received.append(c); });
    ADD_FAILURE() << "a dropped body succeeded";
  } catch (const platform::UrlError &error) {
    EXPECT_EQ(error.code(), platform::UrlError::Code::networkConnectionLost);
  }
  EXPECT_EQ(received, small.substr(0, 300));

  // Nobody listens on a bound, non-listening port.
  mqtest::RefusingPort closed;
  ASSERT_NE(closed.port(), 0);
  platform::HttpRequest refused;
  refused.url = closed.url() + "/x";
  EXPECT_EQ(failureOf(refused), platform::UrlError::Code::cannotConnectToHost);

  platform::HttpRequest bad;
  bad.url = "not a url";
  EXPECT_EQ(failureOf(bad), platform::UrlError::Code::badURL);
}

TEST_F(HttpClientTest, FoldedHeaderLinesJoinTheirFieldAndTheHeaderBlockIsCapped) {
  // Each continuation line extends its field where it stands (no rebuild of the fields).
  const int kFolds = 2'000;
  std::string folded = "HTTP/1.1 200 OK\r\nX-Folded: start\r\n";
  std::string expected = "start";
  for (int i = 0; i < kFolds; ++i) {
    folded += "\t" + std::to_string(i % 10) + "\r\n";
    expected += " " + std::to_string(i % 10);
  }
  folded += "X-After: 1\r\nContent-Length: 2\r\n\r\nok";
  ASSERT_LT(folded.size(), HttpClient::kMaxHeaderBytes);

  // Past the cap: many short fields, none of them long enough for curl's own line limit.
  std::string oversized = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; oversized.size() <= HttpClient::kMaxHeaderBytes; ++i) {
    oversized += "X-Pad-" + std::to_string(i) + ": " + std::string(50, 'p') + "\r\n";
  }
  oversized += "Content-Length: 0\r\n\r\n";
  hub.setRawAnswers({folded, oversized});

  platform::HttpRequest request;
  request.url = hub.rawBaseUrl() + "/folded";
  const HttpResponse answer = client.send(request);
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.headers.value("X-Folded"), expected);
  EXPECT_EQ(answer.headers.value("X-After"), "1");
  EXPECT_EQ(answer.headers.fields().size(), 3u);
  EXPECT_EQ(answer.body, "ok");

  try {
    client.send(request);
    ADD_FAILURE() << "an oversized header block was accepted";
  } catch (const platform::UrlError &error) {
    EXPECT_EQ(error.code(), platform::UrlError::Code::badServerResponse);
    EXPECT_NE(std::string(error.what()).find("256 KB"), std::string::npos) << error.what();
  }
}

TEST_F(HttpClientTest, CancellationStopsAStalledTransfer) {
  hub.addFault(Fault::stallingAfter(100));
  std::atomic<bool> cancelled{false};
  platform::HttpRequest request = get("small.txt");
  request.isCancelled = [&] { return cancelled.load(); };
  std::string received;
  try {
    client.stream(request, nullptr, [&](std::string_view chunk) {
      received.append(chunk);
      cancelled = true; // the server now sends nothing more
    });
    ADD_FAILURE() << "a cancelled transfer succeeded";
  } catch (const platform::UrlError &error) {
    EXPECT_EQ(error.code(), platform::UrlError::Code::cancelled);
  }
  EXPECT_EQ(received, small.substr(0, 100));
}

TEST_F(HttpClientTest, IdleTimeoutEndsAStalledTransfer) {
  hub.addFault(Fault::stallingAfter(100));
  platform::HttpRequest request = get("small.txt");
  request.timeoutSeconds = 1;
  EXPECT_EQ(failureOf(request), platform::UrlError::Code::timedOut);
}

TEST_F(HttpClientTest, ASpeedFloorEndsATrickleThatBeatsTheIdleTimeout) {
  // A byte every 50 ms keeps the one-second idle timer from ever running out.
  hub.addFault(Fault::trickling(std::chrono::milliseconds(50)));
  platform::HttpRequest request = get("small.txt");
  request.timeoutSeconds = 1;
  request.speedFloor = {/*bytesPerSecond=*/500, /*seconds=*/1};
  std::size_t received = 0;
  try {
    client.stream(request, nullptr, [&](std::string_view chunk) { received += chunk.size(); });
    ADD_FAILURE() << "a trickle below the floor succeeded";
  } catch (const platform::UrlError &error) {
    EXPECT_EQ(error.code(), platform::UrlError::Code::timedOut);
    EXPECT_NE(std::string(error.what()).find("too slow"), std::string::npos) << error.what();
  }
  EXPECT_GT(received, 0u);
  EXPECT_LT(received, small.size());
}

TEST_F(HttpClientTest, ChunkHandlerErrorsPropagateUnchanged) {
  EXPECT_THROW(client.stream(get("small.txt"), nullptr,
                             [](std::string_view) { throw std::logic_error("disk full"); }),
               std::logic_error);
}

TEST(HttpRequestTest, BearerTokenNeverBreaksTheHeader) {
  struct Case {
    std::optional<std::string> token;
    std::optional<std::string> header;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt},
      {"", std::nullopt},
      {"\n", std::nullopt},
      {"hf_abc", "Bearer hf_abc"},
      {"hf_abc\n", "Bearer hf_abc"},
      {"hf_abc\r\n", "Bearer hf_abc"},
      {"  hf_abc  ", "Bearer hf_abc"},
      {"hf_a\r\nX-Evil: 1", std::nullopt},
      {std::string("hf_a\0b", 6), std::nullopt},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.token.value_or("<none>"));
    platform::HttpRequest request;
    request.headers.add("Authorization", "stale");
    request.setBearerToken(c.token);
    EXPECT_EQ(request.headers.value("Authorization"), c.header);
  }
}

TEST(HttpRequestTest, HeaderValuesWithLineBreaksAreRefused) {
  platform::HttpClient client;
  platform::HttpRequest request;
  request.url = "http://127.0.0.1:9/x";
  request.headers.add("X-Test", "a\r\nInjected: yes");
  EXPECT_THROW(client.send(request), std::invalid_argument);
}

TEST(HttpUrlTest, EncodingAndResolution) {
  EXPECT_EQ(platform::percentEncodePathSegment("feature/x"), "feature%2Fx");
  EXPECT_EQ(platform::percentEncodePathSegment("my file#1?.bin"), "my%20file%231%3F.bin");
  EXPECT_EQ(platform::percentEncodePath("a b/c.json"), "a%20b/c.json");
  EXPECT_EQ(platform::percentDecode("a%20b%2Fc%zz"), "a b/c%zz");
  EXPECT_EQ(platform::lastPathComponent("http://h/a/file%20x.bin?q=1"), "file x.bin");
  EXPECT_EQ(platform::resolveUrlReference("http://h:8080/a/b?x=1", "/c/d?y=2"),
            "http://h:8080/c/d?y=2");
  EXPECT_EQ(platform::resolveUrlReference("http://h/a/b", "https://cdn.example/f"),
            "https://cdn.example/f");
  EXPECT_TRUE(platform::sameOrigin("http://H:80/a", "http://h/b"));
  EXPECT_FALSE(platform::sameOrigin("http://h:1/a", "http://h:2/a"));
  EXPECT_FALSE(platform::parseHttpUrl("ftp://h/a"));
  EXPECT_FALSE(platform::parseHttpUrl(""));
}

} // namespace
