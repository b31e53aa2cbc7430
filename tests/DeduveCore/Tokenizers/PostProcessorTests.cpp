#include "DeduveCore/Tokenizers/PostProcessor.hpp"

#include <optional>

#include <gtest/gtest.h>

#include "tests/DeduveCore/Tokenizers/StageTestSupport.hpp"

namespace deduve {
namespace {

using stagetest::cfg;
using stagetest::refusal;
using stagetest::Texts;

constexpr const char *kTemplate = R"({"type": "TemplateProcessing",
  "single": [{"SpecialToken": {"id": "<s>", "type_id": 0}}, {"Sequence": {"id": "A", "type_id": 0}},
             {"SpecialToken": {"id": "</s>", "type_id": 0}}],
  "pair": [{"SpecialToken": {"id": "<s>"}}, {"Sequence": {"id": "A"}}, {"SpecialToken": {"id": "</s>"}},
           {"Sequence": {"id": "B", "type_id": 1}}, {"SpecialToken": {"id": "</s>"}}],
  "special_tokens": {}})";
constexpr const char *kBert =
    R"({"type": "BertProcessing", "sep": ["[SEP]", 102], "cls": ["[CLS]", 101]})";
constexpr const char *kRoberta =
    R"({"type": "RobertaProcessing", "sep": ["</s>", 2], "cls": ["<s>", 0]})";

TEST(PostProcessorTests, FactoryBuildsEveryTypeName) {
  EXPECT_NE(dynamic_cast<const TemplateProcessing *>(makePostProcessor(cfg(kTemplate)).get()),
            nullptr);
  EXPECT_NE(dynamic_cast<const ByteLevelPostProcessor *>(
                makePostProcessor(cfg(R"({"type": "ByteLevel", "trim_offsets": false})")).get()),
            nullptr);
  EXPECT_NE(dynamic_cast<const RobertaProcessing *>(makePostProcessor(cfg(kRoberta)).get()),
            nullptr);
  EXPECT_NE(dynamic_cast<const BertProcessing *>(makePostProcessor(cfg(kBert)).get()), nullptr);
  EXPECT_NE(dynamic_cast<const SequenceProcessing *>(
                makePostProcessor(cfg(R"({"type": "Sequence", "processors": []})")).get()),
            nullptr);
  EXPECT_EQ(makePostProcessor(nullptr), nullptr);
  EXPECT_EQ(makePostProcessor(cfg(R"({"single": []})")), nullptr);

  const auto roberta = makePostProcessor(cfg(kRoberta));
  const auto &r = dynamic_cast<const RobertaProcessing &>(*roberta);
  EXPECT_EQ(r.sep(), "</s>");
  EXPECT_EQ(r.cls(), "<s>");
  EXPECT_TRUE(r.trimOffset());
  EXPECT_TRUE(r.addPrefixSpace());
}

TEST(PostProcessorTests, RefusesUnknownTypesAndMissingMembers) {
  for (const char *type : {"", "Template", "bertprocessing"}) {
    SCOPED_TRACE(type);
    const Config config = Config::dictionary({{"type", type}});
    EXPECT_EQ(refusal([&] { makePostProcessor(config); }),
              std::string("Unsupported PostProcessor type: ") + type);
  }
  const struct {
    const char *json;
    const char *message;
  } cases[] = {
      {R"({"type": "TemplateProcessing"})", "Missing `single` processor configuration"},
      {R"({"type": "TemplateProcessing", "pair": []})", "Missing `single` processor configuration"},
      {R"({"type": "TemplateProcessing", "single": []})", "Missing `pair` processor configuration"},
      {R"({"type": "BertProcessing"})", "Missing `sep` processor configuration"},
      {R"({"type": "BertProcessing", "sep": ["[SEP]", 102]})",
       "Missing `cls` processor configuration"},
      {R"({"type": "RobertaProcessing", "sep": [2, "</s>"], "cls": ["<s>", 0]})",
       "Missing `sep` processor configuration"},
      {R"({"type": "RobertaProcessing", "sep": ["</s>", 2], "cls": ["<s>", -1]})",
       "Missing `cls` processor configuration"},
      {R"({"type": "Sequence"})", "Missing `processors` configuration"},
      {R"({"type": "Sequence", "processors": [{"type": "Nope"}]})",
       "Unsupported PostProcessor type: Nope"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(refusal([&] { makePostProcessor(cfg(c.json)); }), c.message);
  }
}

struct PostProcessCase {
  const char *name;
  const char *config;
  Texts tokens;
  std::optional<Texts> pair;
  bool addSpecialTokens;
  Texts expected;
};

class PostProcessTest : public ::testing::TestWithParam<PostProcessCase> {};

TEST_P(PostProcessTest, Tokens) {
  const PostProcessCase &c = GetParam();
  const auto processor = makePostProcessor(cfg(c.config));
  ASSERT_NE(processor, nullptr);
  EXPECT_EQ(processor->postProcess(c.tokens, c.pair ? &*c.pair : nullptr, c.addSpecialTokens),
            c.expected);
}

const PostProcessCase kPostProcessCases[] = {
    {"templateSingle", kTemplate, {"a", "b"}, std::nullopt, true, {"<s>", "a", "b", "</s>"}},
    {"templateSingleWithoutSpecialTokens", kTemplate, {"a", "b"}, std::nullopt, false, {"a", "b"}},
    {"templatePair",
     kTemplate,
     {"a"},
     Texts{"b", "c"},
     true,
     {"<s>", "a", "</s>", "b", "c", "</s>"}},
    {"templatePairWithoutSpecialTokens", kTemplate, {"a"}, Texts{"b"}, false, {"a", "b"}},
    {"templateUnknownSequenceAddsNothing",
     R"({"type": "TemplateProcessing", "single": [{"Sequence": {"id": "C"}}, {"Sequence": {"id": "A"}}, {"Other": 1}, "x"], "pair": []})",
     {"a"},
     std::nullopt,
     true,
     {"a"}},
    {"templateSingleNamingBWithoutPair",
     R"({"type": "TemplateProcessing", "single": [{"Sequence": {"id": "A"}}, {"Sequence": {"id": "B"}}], "pair": []})",
     {"a"},
     std::nullopt,
     true,
     {"a"}},
    {"templateEmptyPairDropsBoth",
     R"({"type": "TemplateProcessing", "single": [], "pair": []})",
     {"a"},
     Texts{"b"},
     true,
     {}},
    {"templateRepeatsSequence",
     R"({"type": "TemplateProcessing", "single": [{"Sequence": {"id": "A"}}, {"Sequence": {"id": "A"}}], "pair": []})",
     {"a"},
     std::nullopt,
     true,
     {"a", "a"}},
    {"byteLevelIgnoresPair", R"({"type": "ByteLevel"})", {"a"}, Texts{"b"}, true, {"a"}},
    {"bert", kBert, {"a"}, std::nullopt, true, {"[CLS]", "a", "[SEP]"}},
    {"bertEmptyPair", kBert, {"a"}, Texts{}, true, {"[CLS]", "a", "[SEP]"}},
    {"bertPair", kBert, {"a"}, Texts{"b"}, true, {"[CLS]", "a", "[SEP]", "b", "[SEP]"}},
    {"bertWithoutSpecialTokens", kBert, {"a"}, Texts{"b"}, false, {"a", "b"}},
    {"roberta", kRoberta, {"Ġhi"}, std::nullopt, true, {"<s>", "Ġhi", "</s>"}},
    {"robertaAlwaysAddsSpecialTokens",
     kRoberta,
     {"a"},
     Texts{"b"},
     false,
     {"<s>", "a", "</s>", "</s>", "b", "</s>"}},
    {"robertaEmptyPair", kRoberta, {"a"}, Texts{}, true, {"<s>", "a", "</s>"}},
    {"robertaTrimKeepsOneSpace",
     kRoberta,
     {"  hi ", "x   ", "\n\ny"},
     std::nullopt,
     true,
     {"<s>", " hi ", "x ", "\ny", "</s>"}},
    {"robertaTrimSpaceOnlyTokens",
     kRoberta,
     {" ", "  ", "    ", ""},
     std::nullopt,
     true,
     {"<s>", " ", "", "", "", "</s>"}},
    {"robertaTrimWithoutPrefixSpace",
     R"({"type": "RobertaProcessing", "sep": ["</s>", 2], "cls": ["<s>", 0], "add_prefix_space": false})",
     {"  hi ", "\t\xE3\x80\x80x", "y\n", "   "},
     std::nullopt,
     true,
     {"<s>", "hi", "x", "y\n", "", "</s>"}},
    {"robertaWithoutTrim",
     R"({"type": "RobertaProcessing", "sep": ["</s>", 2], "cls": ["<s>", 0], "trim_offsets": false})",
     {"  hi "},
     Texts{" b"},
     true,
     {"<s>", "  hi ", "</s>", "</s>", " b", "</s>"}},
    {"sequence",
     R"({"type": "Sequence", "processors": [{"type": "ByteLevel"}, 7, {"no": "type"},
         {"type": "TemplateProcessing", "single": [{"SpecialToken": {"id": "<s>"}}, {"Sequence": {"id": "A"}}], "pair": []}]})",
     {"a"},
     Texts{"b"},
     true,
     {"<s>", "a"}},
    {"sequenceFirstMemberSeesPair",
     R"({"type": "Sequence", "processors": [{"type": "BertProcessing", "sep": ["]", 1], "cls": ["[", 0]}, {"type": "ByteLevel"}]})",
     {"a"},
     Texts{"b"},
     true,
     {"[", "a", "]", "b", "]"}},
    {"emptySequence", R"({"type": "Sequence", "processors": []})", {"a"}, Texts{"b"}, true, {"a"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, PostProcessTest, ::testing::ValuesIn(kPostProcessCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace deduve
