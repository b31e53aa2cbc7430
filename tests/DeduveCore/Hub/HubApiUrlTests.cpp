#include "DeduveCore/Hub/HubApi.hpp"

#include <string>

#include <gtest/gtest.h>

#include "tests/DeduveCore/Hub/HubTestSupport.hpp"

namespace {

using deduve::HubApi;
using deduve::Hub::HubClientError;
using Kind = HubClientError::Kind;

const HubApi::Repo kRepo{"owner/name", HubApi::RepoType::models};

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

} // namespace
