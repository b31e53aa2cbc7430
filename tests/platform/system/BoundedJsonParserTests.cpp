#include "platform/system/BoundedJsonParser.hpp"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

using Json = nlohmann::json;

TEST(BoundedJsonParserTest, BuildsTheSameDocumentAsTheLibrarysParser) {
  const char *const documents[] = {
      R"({"a": [1, -2, 3.5, true, false, null, "x\u00e9"], "b": {"c": {}, "d": []}})",
      R"([[], [[]], {"": 18446744073709551615}])",
      R"("just a string")",
      "42",
  };
  for (const char *text : documents) {
    EXPECT_EQ(parseJsonWithinLimits(text), Json::parse(text)) << text;
  }
  EXPECT_EQ(parseJsonWithinLimits(R"({"k": 1, "k": 2})"), Json::parse(R"({"k": 2})"))
      << "a repeated key keeps its last value";
}

TEST(BoundedJsonParserTest, RefusesMalformedTextAsTheLibraryDoes) {
  for (const char *text : {"", "{", "[1,]", "{\"a\" 1}", "[1] 2", "\"\xff\""}) {
    EXPECT_THROW(parseJsonWithinLimits(text), Json::parse_error) << text;
  }
}

TEST(BoundedJsonParserTest, RefusesADocumentPastEachLimitAndTakesOneAtIt) {
  struct Case {
    const char *what;
    JsonLimits limits;
    std::string within;
    std::string beyond;
    const char *message;
  };
  const Case cases[] = {
      {"depth", {.maxDepth = 3}, "[[[1]]]", "[[[[1]]]]", "nested more than 3 levels deep"},
      {"depth of objects",
       {.maxDepth = 2},
       R"({"a": {"b": 1}})",
       R"({"a": {"b": {}}})",
       "nested more than 2 levels deep"},
      {"members of an array",
       {.maxMembers = 3},
       "[1, 2, 3]",
       "[1, 2, 3, 4]",
       "an array or object holds more than 3 members"},
      {"members of an object",
       {.maxMembers = 2},
       R"({"a": 1, "b": [1, 2]})",
       R"({"a": 1, "b": 2, "c": 3})",
       "an array or object holds more than 2 members"},
      {"values", {.maxValues = 5}, "[[1, 2], 3]", "[[1, 2], [3]]", "holds more than 5 values"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(parseJsonWithinLimits(c.within, c.limits), Json::parse(c.within));
    try {
      parseJsonWithinLimits(c.beyond, c.limits);
      ADD_FAILURE() << "accepted " << c.beyond;
    } catch (const JsonLimitError &error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
}

TEST(BoundedJsonParserTest, ReadsWideDocumentsOfManySmallObjects) {
  // Each member ending its own object is the shape that made a parent-scanning parser quadratic.
  std::string text = "{";
  constexpr int kMembers = 60000;
  for (int i = 0; i < kMembers; ++i) {
    text +=
        (i == 0 ? "\"k" : ",\"k") + std::to_string(i) + "\":{\"v\":[" + std::to_string(i) + "]}";
  }
  text += "}";
  const Json document = parseJsonWithinLimits(text, {.maxMembers = kMembers});
  ASSERT_EQ(document.size(), static_cast<std::size_t>(kMembers));
  EXPECT_EQ(document["k59999"]["v"][0], 59999);
}

} // namespace
} // namespace platform
