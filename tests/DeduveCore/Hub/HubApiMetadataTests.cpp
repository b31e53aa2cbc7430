#include "DeduveCore/Hub/HubApi.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

using deduve::HubApi;

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
