// Repository listings from a hub: read straight from the answer's text. The seed corpus holds a
// listing nested far past the reader's depth limit and one whose object has thousands of keys,
// so that a regression to building a document (gigabytes for a page of brackets, a linear
// search per inserted key) fails here.

#include <string>

#include <gtest/gtest.h>

#include "DeduveCore/Hub/HubApi.hpp"
#include "tests/fuzz/FuzzSupport.hpp"

namespace deduve {
namespace {

void readListing(const std::string &input) {
  const auto listing = HubApi::SiblingsResponse::parse(input);
  for (const auto &sibling : listing.siblings) {
    (void)HubApi::isSafeRelativeFilename(sibling.rfilename);
  }
}

TEST(HubListingFuzz, MutantsAreReadOrRefusedCleanly) {
  mqtest::fuzz::run("hub-listing", /*seed=*/2718, /*count=*/1000, readListing);
}

} // namespace
} // namespace deduve
