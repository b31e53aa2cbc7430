#include "platform/system/Environment.hpp"
#include "platform/system/UUID.hpp"

#include <gtest/gtest.h>

#include <set>

namespace platform {
namespace {

TEST(EnvironmentTest, StandardFoldersFollowXdgVariablesOrHome) {
  struct Case {
    Environment::Variables variables;
    std::string applicationSupport;
    std::string documents;
    std::string config;
  };
  const std::vector<Case> cases = {
      {{}, "/home/ada/.local/share", "/home/ada/Documents", "/home/ada/.config"},
      {{{"XDG_DATA_HOME", "/data"}, {"XDG_DOCUMENTS_DIR", "/docs"}, {"XDG_CONFIG_HOME", "/cfg"}},
       "/data",
       "/docs",
       "/cfg"},
      // Relative and empty values are ignored, as the XDG rules ask.
      {{{"XDG_DATA_HOME", "relative"}, {"XDG_DOCUMENTS_DIR", ""}},
       "/home/ada/.local/share",
       "/home/ada/Documents",
       "/home/ada/.config"},
  };
  for (const auto &c : cases) {
    Environment environment(c.variables, "/home/ada");
    EXPECT_EQ(environment.applicationSupportDirectory(), c.applicationSupport);
    EXPECT_EQ(environment.documentsDirectory(), c.documents);
    EXPECT_EQ(environment.configDirectory(), c.config);
  }
}

TEST(EnvironmentTest, HomeComesFromGivenHomeThenHomeVariable) {
  EXPECT_EQ(Environment(Environment::Variables{{"HOME", "/home/bob"}}).homeDirectory(),
            "/home/bob");
  EXPECT_EQ(Environment(Environment::Variables{{"HOME", "/home/bob"}}, "/given").homeDirectory(),
            "/given");
  EXPECT_EQ(Environment().homeDirectory(), "/");

  Environment environment(Environment::Variables{{"HF_TOKEN", ""}});
  EXPECT_EQ(environment.variable("HF_TOKEN"), "");
  EXPECT_EQ(environment.variable("HF_HOME"), std::nullopt);
  environment.setVariable("HF_HOME", "/cache");
  EXPECT_EQ(environment.variable("HF_HOME"), "/cache");
  environment.removeVariable("HF_HOME");
  EXPECT_EQ(environment.variable("HF_HOME"), std::nullopt);
}

TEST(UUIDTest, StringFormRoundTripsAndFreshOnesDiffer) {
  const auto parsed = UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  for (const char *bad :
       {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5G",
        "E621E1F8-C36C-495A-93FC0-C247A3E6E5F"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(UUID::fromString(bad).has_value());
  }
  std::set<UUID> seen;
  for (int i = 0; i < 1000; ++i) {
    const UUID fresh;
    EXPECT_EQ(fresh.uuidString()[14], '4'); // version 4
    EXPECT_TRUE(seen.insert(fresh).second);
    EXPECT_EQ(UUID::fromString(fresh.uuidString()), fresh);
  }
}

} // namespace
} // namespace platform
