#include "DeduveCore/Hub/HubApiWrapper.hpp"

#include "tests/support/TempDir.hpp"
#include "tests/support/TestHub.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <unordered_set>

namespace {

namespace fs = std::filesystem;
using deduve::HubApiWrapper;
using Repo = HubApiWrapper::Repo;
using RepoType = HubApiWrapper::RepoType;

TEST(HubApiWrapperTest, RepoTypesReadOnlyTheirExactRawValues) {
  EXPECT_EQ(HubApiWrapper::repoTypeFromRawValue("models"), RepoType::models);
  EXPECT_EQ(HubApiWrapper::repoTypeFromRawValue("datasets"), RepoType::datasets);
  EXPECT_EQ(HubApiWrapper::repoTypeFromRawValue("spaces"), RepoType::spaces);
  for (const char *raw : {"Models", "model", "", "spaces "}) {
    EXPECT_FALSE(HubApiWrapper::repoTypeFromRawValue(raw).has_value()) << raw;
  }
  const Repo model("a/b", RepoType::models);
  const Repo dataset("a/b", RepoType::datasets);
  EXPECT_NE(model, dataset);
  EXPECT_EQ(model, Repo("a/b", RepoType::models));
  const std::unordered_set<Repo> set{model, dataset, Repo("a/b", RepoType::models)};
  EXPECT_EQ(set.size(), 2u);
}

TEST(HubApiWrapperTest, RepoCodingRoundTripsAndRejectsWhatIsNotARepo) {
  const Repo repo("a/b", RepoType::datasets);
  EXPECT_EQ(repo.encode().dump(), R"({"id":"a/b","type":"datasets"})");
  EXPECT_EQ(Repo::decode(repo.encode()), repo);

  for (const char *text :
       {R"({"id":"a/b","type":"model"})", R"({"id":"a/b"})", R"({"type":"models"})",
        R"({"id":7,"type":"models"})", R"({"id":"a/b","type":null})", R"(["a/b","models"])"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(Repo::decode(nlohmann::ordered_json::parse(text)), HubApiWrapper::DecodingError);
  }
}

TEST(HubApiWrapperTest, LocalRepoLocationNestsTypeOwnerAndName) {
  const HubApiWrapper wrapper(fs::path("/base"), std::string("token"), std::string("http://x"));
  EXPECT_EQ(wrapper.localRepoLocation(Repo("owner/name", RepoType::datasets)),
            fs::path("/base/datasets/owner/name"));
  EXPECT_EQ(wrapper.localRepoLocation(Repo("owner/name", RepoType::models)),
            fs::path("/base/models/owner/name"));
  EXPECT_EQ(wrapper.impl.hfToken, "token");
  EXPECT_EQ(wrapper.impl.endpoint, "http://x");
  EXPECT_FALSE(wrapper.impl.useOfflineMode.has_value());
}

TEST(HubApiWrapperTest, SharedIsMadeOnceWithEverySettingAtItsDefault) {
  const HubApiWrapper first = HubApiWrapper::shared();
  const HubApiWrapper second = HubApiWrapper::shared();
  // Copies of one value share its client's network monitor; a wrapper made anew has its own.
  ASSERT_NE(first.impl.networkMonitor, nullptr);
  EXPECT_EQ(first.impl.networkMonitor, second.impl.networkMonitor);
  const HubApiWrapper fresh;
  EXPECT_NE(fresh.impl.networkMonitor, first.impl.networkMonitor);
  EXPECT_EQ(first.impl.downloadBase, fresh.impl.downloadBase);
  EXPECT_EQ(first.impl.hfToken, fresh.impl.hfToken);
  EXPECT_EQ(first.impl.endpoint, fresh.impl.endpoint);
  EXPECT_FALSE(first.impl.useBackgroundSession);
  EXPECT_FALSE(first.impl.useOfflineMode.has_value());
}

TEST(HubApiWrapperTest, ListingAndSnapshotGoThroughTheClient) {
  mqtest::TempDir dir;
  mqtest::TestHub hub(dir / "hub");
  hub.addFile("datasets", "owner/data", "config.json", "{}");
  hub.addFile("datasets", "owner/data", "folder/sub/weight.bin", "weights");
  hub.addFile("datasets", "owner/data", "notes.md", "notes");
  HubApiWrapper wrapper(dir / "cache", std::string(), hub.baseUrl());
  wrapper.impl.useOfflineMode = false;
  const Repo repo("owner/data", RepoType::datasets);

  auto names = wrapper.getFilenames(repo, "main", {"*.json", "config.json", "*.bin"});
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"config.json", "folder/sub/weight.bin"}));
  EXPECT_EQ(wrapper.getFilenames(repo, "main", {}).size(), 3u);

  int calls = 0;
  const auto folder = wrapper.snapshot(repo, "main", {"*.bin"}, [&](const auto &) { ++calls; });
  EXPECT_EQ(folder, wrapper.localRepoLocation(repo));
  EXPECT_EQ(mqtest::TempDir::read(folder / "folder" / "sub" / "weight.bin"), "weights");
  EXPECT_FALSE(fs::exists(folder / "notes.md"));
  EXPECT_GE(calls, 1);
}

} // namespace
