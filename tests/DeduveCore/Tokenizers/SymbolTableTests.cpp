#include "DeduveCore/Tokenizers/SymbolTable.hpp"

#include <gtest/gtest.h>

#include <string>

namespace deduve {
namespace {

TEST(SymbolTableTest, NumbersTextsInFirstSeenOrderAndFindsThemByTheirBytes) {
  SymbolTable table;
  EXPECT_EQ(table.find("a"), -1) << "empty";
  EXPECT_EQ(table.intern("ab"), 0);
  EXPECT_EQ(table.intern(""), 1);
  EXPECT_EQ(table.intern(std::string("a\0b", 3)), 2);
  EXPECT_EQ(table.intern("ab"), 0) << "known";
  EXPECT_EQ(table.intern("\xC4\xA0the"), 3);
  EXPECT_EQ(table.size(), 4u);
  EXPECT_EQ(table.find(""), 1);
  EXPECT_EQ(table.find(std::string("a\0b", 3)), 2);
  EXPECT_EQ(table.find("a"), -1) << "a prefix is another text";
  EXPECT_EQ(table.find("abc"), -1);
  EXPECT_EQ(table.text(0), "ab");
  EXPECT_EQ(table.text(1), "");
  EXPECT_EQ(table.text(3), "\xC4\xA0the");
}

// Growing the index many times over keeps every id, with or without room reserved first.
TEST(SymbolTableTest, KeepsEveryIdAcrossGrowth) {
  for (const std::size_t reserved : {std::size_t{0}, std::size_t{50000}}) {
    SCOPED_TRACE(reserved);
    SymbolTable table;
    table.reserve(reserved);
    for (int i = 0; i < 50000; ++i) {
      ASSERT_EQ(table.intern("t" + std::to_string(i)), i);
    }
    for (int i = 0; i < 50000; i += 997) {
      EXPECT_EQ(table.find("t" + std::to_string(i)), i);
      EXPECT_EQ(table.text(i), "t" + std::to_string(i));
    }
    EXPECT_EQ(table.find("t50000"), -1);
  }
}

} // namespace
} // namespace deduve
