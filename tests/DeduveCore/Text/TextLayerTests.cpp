#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace deduve {
namespace {

// Unicode services come from one place: every other library calls the text layer, so ICU stays
// a private dependency of DeduveCore/Text.
TEST(TextLayerTest, OnlyTheTextLayerIncludesIcu) {
  const std::filesystem::path root(MQ_SOURCE_DIR);
  const std::filesystem::path textLayer = root / "DeduveCore" / "Text";
  int scanned = 0;
  for (const char *folder : {"platform", "DeduveCore", "DivuvovIze", "app", "tools", "bench"}) {
    if (!std::filesystem::exists(root / folder))
      continue;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root / folder)) {
      const auto extension = entry.path().extension();
      if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".hpp"))
        continue;
      if (entry.path().parent_path() == textLayer)
        continue;
      std::ifstream in(entry.path());
      std::stringstream text;
      text << in.rdbuf();
      ++scanned;
      EXPECT_EQ(text.str().find("#include <unicode/"), std::string::npos)
          << entry.path().lexically_relative(root) << " includes ICU";
    }
  }
  EXPECT_GT(scanned, 50);
}

} // namespace
} // namespace deduve
