#include "DeduveCore/Hub/HubApi.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/net/UrlError.hpp"
#include "tests/DeduveCore/Hub/HubTestSupport.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHub.hpp"

namespace {

using deduve::HubApi;
using deduve::Hub::HubClientError;
using platform::HttpResponse;
using platform::UrlError;
using Fault = mqtest::TestHub::Fault;
using Kind = HubClientError::Kind;

const HubApi::Repo kRepo{"owner/name", HubApi::RepoType::models};

mqtest::TestHub::Options hubOptions(const std::filesystem::path &root,
                                    std::optional<std::string> requiredToken = std::nullopt) {
  mqtest::TestHub::Options options;
  options.root = root;
  options.largeFileThreshold = 4096;
  options.requiredToken = std::move(requiredToken);
  return options;
}

class HubApiRequestsTest : public ::testing::Test {
protected:
  mqtest::TempDir dir;
  mqtest::TestHub hub{hubOptions(dir / "hub")};
  std::string large = std::string(5000, 'L');

  void SetUp() override {
    hub.addFile("models", "owner/name", "config.json", "{}");
    hub.addFile("models", "owner/name", "tokenizer.json", "{\"t\": 1}");
    hub.addFile("models", "owner/name", "a/b/weight.bin", large);
    hub.addFile("models", "owner/name", "readme.md", "hello");
    hub.addFile("datasets", "owner/set", "data file.json", "[]");
  }

  HubApi client(std::optional<std::string> token = std::nullopt) const {
    HubApi::Settings settings;
    settings.endpoint = hub.baseUrl();
    settings.hfToken = std::move(token);
    return hubtest::makeHub(settings);
  }

  std::string resolve(const std::string &file, const HubApi::Repo &repo = kRepo) const {
    return HubApi::resolveUrl(hub.baseUrl(), repo, "main", file);
  }

  // The error kind (and what()) a call throws; fails the test when it does not throw one.
  template <class Call> std::pair<Kind, std::string> clientError(Call call) const {
    try {
      call();
    } catch (const HubClientError &error) {
      return {error.kind(), error.what()};
    }
    ADD_FAILURE() << "no HubClientError";
    return {Kind::unexpectedError, ""};
  }
};

TEST(HubApiUrlTest, ListingAndResolveUrls) {
  struct Case {
    std::string actual;
    std::string expected;
  };
  const HubApi::Repo dataset{"owner/set", HubApi::RepoType::datasets};
  const HubApi::Repo space{"owner/app", HubApi::RepoType::spaces};
  const std::string e = "http://hub.test";
  HubApi::Settings settings;
  settings.endpoint = e + "/";
  const HubApi api = hubtest::makeHub(settings);
  const Case cases[] = {
      {HubApi::resolveUrl(e, kRepo, "main", "folder/file.bin"),
       e + "/owner/name/resolve/main/folder/file.bin"},
      {HubApi::resolveUrl(e, dataset, "main", "file.json"),
       e + "/datasets/owner/set/resolve/main/file.json"},
      {HubApi::resolveUrl(e, space, "main", "app.py"), e + "/spaces/owner/app/resolve/main/app.py"},
      {HubApi::resolveUrl(e, kRepo, "feature/x", "a.bin"),
       e + "/owner/name/resolve/feature%2Fx/a.bin"},
      {HubApi::resolveUrl(e, kRepo, "main", "my file#1.txt"),
       e + "/owner/name/resolve/main/my%20file%231.txt"},
      {HubApi::resolveUrl(e + "/", kRepo, "main", "a.bin"), e + "/owner/name/resolve/main/a.bin"},
      {api.listingUrl(kRepo, "main"), e + "/api/models/owner/name/revision/main"},
      {api.listingUrl(dataset, "main"), e + "/api/datasets/owner/set/revision/main"},
      {api.listingUrl(space, "v1.0"), e + "/api/spaces/owner/app/revision/v1.0"},
      {api.listingUrl(kRepo, "feature/x"), e + "/api/models/owner/name/revision/feature%2Fx"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(c.actual, c.expected);
  }
}

TEST(HubApiUrlTest, EmptyOrMalformedEndpointIsAClearClientError) {
  for (const std::string endpoint : {"", "not a url", "ftp://hub.test", "hub.test/path"}) {
    SCOPED_TRACE(endpoint);
    HubApi::Settings settings;
    settings.endpoint = endpoint;
    const HubApi api = hubtest::makeHub(settings);
    try {
      api.getFilenames(kRepo, "main");
      ADD_FAILURE() << "no error";
    } catch (const HubClientError &error) {
      EXPECT_EQ(error.kind(), Kind::parseError);
      EXPECT_NE(std::string(error.what()).find("endpoint"), std::string::npos) << error.what();
    }
    EXPECT_THROW(HubApi::resolveUrl(endpoint, kRepo, "main", "a.bin"), HubClientError);
  }
}

TEST_F(HubApiRequestsTest, ListingFiltersByGlobsInListingOrder) {
  struct Case {
    std::vector<std::string> globs;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {{}, {"a/b/weight.bin", "config.json", "readme.md", "tokenizer.json"}},
      {{"*.json", "config.json"}, {"config.json", "tokenizer.json"}},
      {{"config.json", "*.json"}, {"config.json", "tokenizer.json"}},
      {{"*.bin"}, {"a/b/weight.bin"}},
      {{"*.md", "a/*"}, {"a/b/weight.bin", "readme.md"}},
      {{"nothing*"}, {}},
  };
  const HubApi api = client();
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.globs));
    EXPECT_EQ(api.getFilenames(kRepo, "main", c.globs), c.expected);
  }
  const HubApi::Repo dataset{"owner/set", HubApi::RepoType::datasets};
  EXPECT_EQ(api.getFilenames(dataset, "feature/x"), std::vector<std::string>{"data file.json"});
  EXPECT_EQ(hub.requests().back().target, "/api/datasets/owner/set/revision/feature%2Fx");
}

TEST_F(HubApiRequestsTest, ListingKeepsServerDuplicatesOnlyWithoutPatterns) {
  Fault fault = Fault::answering(200, "/api/models/owner/name");
  fault.body = R"({"siblings":[{"rfilename":"a.json"},{"rfilename":"a.json"}],"other":1})";
  hub.addFault(fault);
  const HubApi api = client();
  EXPECT_EQ(api.getFilenames(kRepo, "main"), (std::vector<std::string>{"a.json", "a.json"}));
  EXPECT_EQ(api.getFilenames(kRepo, "main", {"*.json"}), std::vector<std::string>{"a.json"});

  hub.clearFaults();
  fault.body = R"({"siblings":[]})";
  hub.addFault(fault);
  EXPECT_TRUE(api.getFilenames(kRepo, "main").empty());
  EXPECT_TRUE(api.getFilenames(kRepo, "main", {"*"}).empty());
}

TEST_F(HubApiRequestsTest, ListingRejectsUnsafeOrMalformedNames) {
  const std::vector<std::string> unsafeNames = {"../evil", "/etc/passwd", "", "a/../../b", "./a",
                                                "a/./b", "a//b", "a/", ".", "..", "a\\\\..\\\\b",
                                                "a\\nb", "a\\r", "a\\u0000b", "a\\u001fb",
                                                // The error quotes an excerpt, not megabytes.
                                                "../" + std::string(1 << 20, 'x')};
  const HubApi api = client();
  for (const auto &name : unsafeNames) {
    SCOPED_TRACE(name);
    hub.clearFaults();
    Fault fault = Fault::answering(200, "/api/");
    fault.body = R"({"siblings":[{"rfilename":"ok.json"},{"rfilename":")" + name + "\"}]}";
    hub.addFault(fault);
    const auto [kind, text] = clientError([&] { api.getFilenames(kRepo, "main"); });
    EXPECT_EQ(kind, Kind::parseError);
    EXPECT_NE(text.find("unsafe"), std::string::npos) << text;
    EXPECT_LT(text.size(), 300u);
    EXPECT_EQ(clientError([&] { api.getFilenames(kRepo, "main", {"*"}); }).first, Kind::parseError);
    // A name nobody asked for is never used as a path.
    EXPECT_EQ(api.getFilenames(kRepo, "main", {"ok.*"}), std::vector<std::string>{"ok.json"});
  }
  for (const std::string body :
       {"<html>error</html>", R"({"files":[]})", R"({"siblings":[{"name":"a"}]})",
        R"({"siblings":[{"rfilename":1}]})"}) {
    SCOPED_TRACE(body);
    hub.clearFaults();
    Fault fault = Fault::answering(200, "/api/");
    fault.body = body;
    hub.addFault(fault);
    // The decoder's error comes through unchanged.
    EXPECT_THROW(api.getFilenames(kRepo, "main"), nlohmann::json::exception);
  }
  // A parse error quotes the token it stopped at by an excerpt: a number of a million digits.
  const std::string longNumbers[] = {
      R"({"siblings":[{"rfilename":)" + std::string(1 << 20, '7') + "e",
      R"({"siblings":[{"rfilename":"a"}], "size": 1)" + std::string(1 << 20, '0') + "}"};
  for (const std::string &body : longNumbers) {
    hub.clearFaults();
    Fault fault = Fault::answering(200, "/api/");
    fault.body = body;
    hub.addFault(fault);
    try {
      api.getFilenames(kRepo, "main");
      ADD_FAILURE() << "accepted";
    } catch (const nlohmann::json::exception &error) {
      EXPECT_LT(std::string(error.what()).size(), 700u);
    }
  }
}

TEST_F(HubApiRequestsTest, ListingShapesAndTheNestingLimit) {
  const auto nested = [](size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
  };
  struct Case {
    const char *name;
    std::string body;
    std::vector<std::string> names; // when it is a listing
    std::string error;              // part of the decoder's error, when it is not
  };
  const Case cases[] = {
      {"other keys and values around the names",
       R"({"id":"x","siblings":[{"size":1,"rfilename":"a","lfs":{"k":[1,{"x":null}]}},)"
       R"({"rfilename":"b"}],"sha":"s","tags":["t"]})",
       {"a", "b"},
       ""},
      {"repeated keys: the last counts",
       R"({"siblings":[{"rfilename":"x"}],"siblings":[{"rfilename":"a","rfilename":"b"}]})",
       {"b"},
       ""},
      {"nesting at the limit",
       R"({"siblings":[{"rfilename":"a"}],"x":)" + nested(510) + "}",
       {"a"},
       ""},
      {"nesting past the limit, under a key nobody reads",
       R"({"siblings":[{"rfilename":"a"}],"x":)" + nested(600) + "}",
       {},
       "nested more than 512 levels deep"},
      {"siblings not an array", R"({"siblings":{"a":{"rfilename":"a"}}})", {}, "must be array"},
      {"an entry that is not an object",
       R"({"siblings":[{"rfilename":"a"},"b"]})",
       {},
       "cannot use at() with string"},
      {"a listing that is not an object", R"([{"siblings":[]}])", {}, "cannot use at() with array"},
      {"syntax error after a shape error", R"({"siblings":[1],)", {}, "parse error"},
  };
  const HubApi api = client();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    hub.clearFaults();
    Fault fault = Fault::answering(200, "/api/");
    fault.body = c.body;
    hub.addFault(fault);
    if (c.error.empty()) {
      EXPECT_EQ(api.getFilenames(kRepo, "main"), c.names);
      continue;
    }
    try {
      api.getFilenames(kRepo, "main");
      ADD_FAILURE() << "accepted";
    } catch (const nlohmann::json::exception &error) {
      EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << error.what();
    }
  }
}

TEST(HubListingTest, ReadingAListingStopsOnceCancelled) {
  std::string listing = R"({"siblings":[)";
  for (int i = 0; i < 20'000; ++i) {
    listing += (i == 0 ? "" : ",") + std::string(R"({"rfilename":"f)") + std::to_string(i) + "\"}";
  }
  listing += "]}";
  EXPECT_EQ(HubApi::SiblingsResponse::parse(listing).siblings.size(), 20'000u);
  platform::CancellationToken cancellation;
  cancellation.cancel();
  try {
    HubApi::SiblingsResponse::parse(listing, cancellation);
    ADD_FAILURE() << "a cancelled reading succeeded";
  } catch (const UrlError &error) {
    EXPECT_EQ(error.code(), UrlError::Code::cancelled);
  }
}

TEST_F(HubApiRequestsTest, AListingTricklingBelowTheSpeedFloorFails) {
  // A byte every 20 ms beats the one-minute idle timeout for as long as the server likes.
  hub.addFault(Fault::trickling(std::chrono::milliseconds(20), "/api/"));
  HubApi::Settings settings;
  settings.endpoint = hub.baseUrl();
  settings.speedFloor = {/*bytesPerSecond=*/500, /*seconds=*/1};
  const auto [kind, text] =
      clientError([&] { hubtest::makeHub(settings).getFilenames(kRepo, "main"); });
  EXPECT_EQ(kind, Kind::downloadError);
  EXPECT_NE(text.find("too slow"), std::string::npos) << text;
}

TEST_F(HubApiRequestsTest, StatusTableOfTheListingAndTheHead) {
  // What an answer's status becomes for the listing's GET and for a file's HEAD; no kind is
  // success. The 3xx answers carry no Location, so nothing follows them.
  struct Outcome {
    std::optional<Kind> kind;
    std::string text;
    bool operator==(const Outcome &) const = default;
  };
  struct Case {
    int status;
    Outcome get;
    Outcome head;
  };
  const Outcome authorization{
      Kind::authorizationRequired,
      "Authentication required. Please provide a valid Hugging Face token."};
  const auto status = [](int code) {
    return Outcome{Kind::httpStatusCode, "HTTP error with status code: " + std::to_string(code)};
  };
  const Case cases[] = {
      {401, authorization, authorization},
      {403, authorization, authorization},
      {404,
       {Kind::fileNotFound, "File not found: main"},
       {Kind::fileNotFound, "File not found: weight.bin"}},
      {500, status(500), status(500)},
      {416, status(416), status(416)},
      {302, status(302), {}},
      {307, status(307), {}},
  };
  const auto outcome = [](const auto &call) {
    try {
      call();
    } catch (const HubClientError &error) {
      return Outcome{error.kind(), error.what()};
    }
    return Outcome{};
  };
  const HubApi api = client();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.status);
    hub.clearFaults();
    hub.addFault(Fault::answering(c.status));
    EXPECT_EQ(outcome([&] { api.getFilenames(kRepo, "main"); }), c.get) << "GET";
    EXPECT_EQ(outcome([&] { api.getFileMetadata(resolve("a/b/weight.bin")); }), c.head) << "HEAD";
  }
}

TEST_F(HubApiRequestsTest, ListingTransportFailureIsADownloadError) {
  hubtest::RefusingPort closed;
  HubApi::Settings settings;
  settings.endpoint = closed.url();
  const auto [kind, text] =
      clientError([&] { hubtest::makeHub(settings).getFilenames(kRepo, "main"); });
  EXPECT_EQ(kind, Kind::downloadError);
  EXPECT_EQ(text.rfind("Download failed: Could not connect to the server.", 0), 0u) << text;
}

TEST_F(HubApiRequestsTest, ListingFollowsRedirectsAndKeepsTheTokenOnTheHub) {
  // A renamed repository answers with a relative redirect to its new name.
  hub.addRelativeRedirect("/api/models/old/name/", "/api/models/owner/name/");
  const HubApi api = client("tok");
  EXPECT_EQ(
      api.getFilenames({"old/name", HubApi::RepoType::models}, "main"),
      (std::vector<std::string>{"a/b/weight.bin", "config.json", "readme.md", "tokenizer.json"}));
  auto log = hub.requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].target, "/api/models/owner/name/revision/main");
  EXPECT_EQ(log[1].header("Authorization"), "Bearer tok");

  // A redirect to another host is followed without the token; its final status counts.
  hub.clearRequests();
  Fault away = Fault::answering(307, "/api/");
  away.headers = {{"Location", hub.cdnBaseUrl() + "/api/models/owner/name/revision/main"}};
  hub.addFault(std::move(away).times(1));
  EXPECT_EQ(clientError([&] { api.getFilenames(kRepo, "main"); }).second, "File not found: main");
  log = hub.requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].listener, "cdn");
  EXPECT_FALSE(log[1].header("Authorization").has_value());
}

TEST_F(HubApiRequestsTest, AListingAnswerPastTheDocumentLimitIsRefused) {
  EXPECT_EQ(client().maxDocumentBytes, 64u * 1024 * 1024);
  // White space is valid JSON of any length: only the size limit ends such an answer.
  Fault endless;
  endless.listingPadding = 1536 * 1024;
  hub.addFault(endless);
  HubApi::Settings settings;
  settings.endpoint = hub.baseUrl();
  settings.maxDocumentBytes = 1024 * 1024;
  const HubApi limited = hubtest::makeHub(settings);
  const auto [kind, text] = clientError([&] { limited.getFilenames(kRepo, "main"); });
  EXPECT_EQ(kind, Kind::downloadError);
  EXPECT_NE(text.find("larger than the 1 MiB limit"), std::string::npos) << text;
  // Within the limit the same padding is still a listing.
  settings.maxDocumentBytes = 2 * 1024 * 1024;
  EXPECT_EQ(hubtest::makeHub(settings).getFilenames(kRepo, "main").size(), 4u);
}

TEST_F(HubApiRequestsTest, HeadMetadataForSmallAndLargeFiles) {
  const HubApi api = client();
  const std::string smallUrl = resolve("config.json");
  const auto small = api.getFileMetadata(smallUrl);
  EXPECT_EQ(small.commitHash, hub.commit());
  EXPECT_EQ(small.etag, mqtest::TestHub::gitBlobSha1Hex("{}"));
  EXPECT_EQ(small.size, 2);
  EXPECT_EQ(small.location, smallUrl);

  hub.clearRequests();
  const auto largeAnswer = api.getFileMetadata(resolve("a/b/weight.bin"));
  EXPECT_EQ(largeAnswer.commitHash, hub.commit());
  EXPECT_EQ(largeAnswer.etag, mqtest::TestHub::sha256Hex(large));
  EXPECT_EQ(largeAnswer.size, 5000);
  EXPECT_EQ(largeAnswer.location, hub.cdnBaseUrl() + "/cdn/models/owner%2Fname/a/b/weight.bin");
  const auto log = hub.requests();
  ASSERT_EQ(log.size(), 1u) << "the redirect to another host must not be followed";
  EXPECT_EQ(log[0].method, "HEAD");
  EXPECT_EQ(log[0].header("Accept-Encoding"), "identity");
}

TEST_F(HubApiRequestsTest, HeadFollowsRelativeRedirectsWithTheOriginalHeaders) {
  hub.addRelativeRedirect("/old/name/", "/owner/name/");
  const HubApi api = client("tok");
  const std::string url = resolve("config.json", {"old/name", HubApi::RepoType::models});
  const auto metadata = api.getFileMetadata(url);
  const std::string finalUrl = resolve("config.json");
  EXPECT_EQ(metadata.location, finalUrl);
  EXPECT_EQ(metadata.etag, mqtest::TestHub::gitBlobSha1Hex("{}"));
  const auto log = hub.requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].method, "HEAD");
  EXPECT_EQ(log[1].target, "/owner/name/resolve/main/config.json");
  EXPECT_EQ(log[1].header("Authorization"), "Bearer tok");
  EXPECT_EQ(log[1].header("Accept-Encoding"), "identity");
  EXPECT_EQ(log[1].header("Location"), finalUrl);
}

TEST_F(HubApiRequestsTest, HeadRedirectsThatAreNotFollowed) {
  struct Case {
    std::string name;
    int status;
    std::optional<std::string> location;
    std::string expectedLocation; // "<requested>" for the requested URL
  };
  const Case cases[] = {
      {"302 to another host gives its Location", 302, "http://other.test/file",
       "http://other.test/file"},
      {"302 without Location gives the requested URL", 302, std::nullopt, "<requested>"},
      {"relative path without a leading slash", 307, "owner/name/x", "<requested>"},
      {"network-path reference names a host", 307, "//other.test/x", "<requested>"},
      {"absolute location on another host", 301, "http://other.test/x", "<requested>"},
  };
  const HubApi api = client("tok");
  const std::string url = resolve("config.json");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    hub.clearFaults();
    hub.clearRequests();
    Fault fault = Fault::answering(c.status);
    if (c.location) {
      fault.headers = {{"Location", *c.location}};
    }
    fault.headers.emplace_back("X-Repo-Commit", hub.commit());
    hub.addFault(fault);
    const auto metadata = api.getFileMetadata(url);
    EXPECT_EQ(metadata.location, c.expectedLocation == "<requested>" ? url : c.expectedLocation);
    EXPECT_EQ(metadata.commitHash, hub.commit());
    EXPECT_EQ(hub.requests().size(), 1u);
  }
}

TEST_F(HubApiRequestsTest, HeadOfAMissingFileAndRedirectCap) {
  const HubApi api = client();
  // Without a fault, a missing file is the hub's own 404.
  EXPECT_EQ(clientError([&] { api.getFileMetadata(resolve("missing.bin")); }).second,
            "File not found: missing.bin");

  hub.clearRequests();
  hub.addRelativeRedirect("/loop/", "/loop/");
  try {
    api.getFileMetadata(hub.baseUrl() + "/loop/x");
    ADD_FAILURE() << "a redirect loop ended";
  } catch (const platform::UrlError &error) {
    EXPECT_EQ(error.code(), platform::UrlError::Code::httpTooManyRedirects);
  }
  EXPECT_EQ(hub.requests().size(), 11u);
}

TEST_F(HubApiRequestsTest, TokensReachOnlyTheHubAndOnlyWhenPresent) {
  struct Case {
    std::string name;
    std::optional<std::string> token;
    std::optional<std::string> header;
  };
  const Case cases[] = {
      {"no token", std::nullopt, std::nullopt},
      {"empty token", "", std::nullopt},
      {"token", "tok", "Bearer tok"},
      {"token file with a final line break", "tok\n", "Bearer tok"},
      {"Windows line end", "tok\r\n", "Bearer tok"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    hub.clearRequests();
    const HubApi api = client(c.token);
    api.getFilenames(kRepo, "main");
    api.getFileMetadata(resolve("config.json"));
    api.getFileMetadata(resolve("a/b/weight.bin"));
    const auto log = hub.requests();
    ASSERT_EQ(log.size(), 3u);
    for (const auto &request : log) {
      EXPECT_EQ(request.header("Authorization"), c.header)
          << request.method << " " << request.target;
    }
  }
}

TEST_F(HubApiRequestsTest, TokenFileWithALineBreakAuthenticates) {
  mqtest::TempDir other;
  mqtest::TestHub guarded(hubOptions(other / "hub", "secret"));
  guarded.addFile("models", "owner/name", "config.json", "{}");
  other.write("home/.cache/huggingface/token", "secret\n");
  HubApi::Settings settings;
  settings.endpoint = guarded.baseUrl();
  const HubApi api = hubtest::makeHub(settings, platform::Environment({}, other / "home"));
  EXPECT_EQ(api.hfToken, "secret\n");
  EXPECT_EQ(api.getFilenames(kRepo, "main"), std::vector<std::string>{"config.json"});
  settings.hfToken = "wrong";
  EXPECT_EQ(clientError([&] { hubtest::makeHub(settings).getFilenames(kRepo, "main"); }).first,
            Kind::authorizationRequired);
}

TEST(HubApiMetadataTest, EtagNormalisation) {
  const std::pair<std::optional<std::string>, std::optional<std::string>> cases[] = {
      {"W/\"abc\"", "abc"},   {"\"abc\"", "abc"},           {"abc", "abc"},
      {"W/W/\"x\"", "W/\"x"}, {std::nullopt, std::nullopt}, {"W/", ""},
      {"\"\"abc\"\"", "abc"}, {"w/\"abc\"", "w/\"abc"},
  };
  for (const auto &[input, expected] : cases) {
    SCOPED_TRACE(input.value_or("<absent>"));
    EXPECT_EQ(HubApi::normalizeEtag(input), expected);
  }
}

TEST(HubApiMetadataTest, SizeParsing) {
  const std::pair<std::string, std::optional<std::int64_t>> cases[] = {
      {"12", 12},
      {"+12", 12},
      {"-5", -5},
      {"0", 0},
      {"12 ", std::nullopt},
      {" 12", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"1e3", std::nullopt},
      {"0x10", std::nullopt},
      {"1,000", std::nullopt},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775808", INT64_MIN},
  };
  for (const auto &[text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(HubApi::parseSize(text), expected);
  }
}

TEST(HubApiMetadataTest, HeaderReading) {
  auto answer = [](int status, std::vector<std::pair<std::string, std::string>> fields) {
    platform::HttpResponse response;
    response.status = status;
    response.url = "http://hub.test/final";
    for (auto &[name, value] : fields) {
      response.headers.add(name, value);
    }
    return response;
  };
  const std::string requested = "http://hub.test/requested";
  auto both = HubApi::fileMetadata(answer(200, {{"Content-Length", "10"},
                                                {"X-Linked-Size", "99"},
                                                {"ETag", "\"e\""},
                                                {"X-Linked-Etag", "\"linked\""},
                                                {"x-repo-commit", "c0ffee"}}),
                                   requested);
  EXPECT_EQ(both.size, 99);
  EXPECT_EQ(both.etag, "linked");
  EXPECT_EQ(both.commitHash, "c0ffee");
  EXPECT_EQ(both.location, "http://hub.test/final");

  auto badLinkedSize = HubApi::fileMetadata(
      answer(200, {{"Content-Length", "10"}, {"X-Linked-Size", "n/a"}}), requested);
  EXPECT_EQ(badLinkedSize.size, std::nullopt) << "a present X-Linked-Size is not replaced";
  EXPECT_EQ(HubApi::fileMetadata(answer(302, {}), requested).location, requested);
  EXPECT_EQ(
      HubApi::fileMetadata(answer(302, {{"Location", "http://cdn.test/x"}}), requested).location,
      "http://cdn.test/x");
  platform::HttpResponse noUrl = answer(200, {});
  noUrl.url.clear();
  EXPECT_EQ(HubApi::fileMetadata(noUrl, requested).location, requested);
  const auto bare = HubApi::fileMetadata(answer(200, {}), requested);
  EXPECT_FALSE(bare.etag || bare.commitHash || bare.size);
}

TEST(HubApiMetadataTest, UnsafeEtagsAndCommitsReadAsAbsent) {
  const std::vector<std::string> unsafe = {
      "../../escape",         "a/b", "..", "a..b", "abc\\def", "abc\rdef", "abc\ndef",
      std::string("a\0b", 3), "W/"};
  for (const auto &value : unsafe) {
    SCOPED_TRACE(testing::PrintToString(value));
    platform::HttpResponse response;
    response.status = 200;
    response.url = "http://hub.test/x";
    response.headers.add("X-Linked-Etag", value);
    response.headers.add("X-Repo-Commit", value);
    const auto metadata = HubApi::fileMetadata(response, response.url);
    EXPECT_FALSE(metadata.etag);
    EXPECT_FALSE(metadata.commitHash);
  }
  // Quotes alone normalise to an empty tag, which names no partial file either.
  platform::HttpResponse quotes;
  quotes.status = 200;
  quotes.headers.add("ETag", "\"\"");
  EXPECT_FALSE(HubApi::fileMetadata(quotes, "http://hub.test/x").etag);
  for (const std::string value : {"0123456789abcdef0123456789abcdef01234567", "abc-def_1.2"}) {
    EXPECT_TRUE(HubApi::isSafeMetadataValue(value)) << value;
  }
}

} // namespace
