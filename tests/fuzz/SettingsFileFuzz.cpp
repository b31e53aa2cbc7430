// Mutated settings files through the app's settings store. Whatever the file holds, opening it
// must not crash or cost memory out of proportion (every allocation above 16 MiB is refused and
// counted as a failure), and a value saved afterwards must read back from the rewritten file.

#include "bench/support/AllocationCounter.hpp"
#include "platform/services/JsonFileSettings.hpp"
#include "tests/fuzz/FuzzSupport.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace mqtest::fuzz {
namespace {

using mqbench::AllocationLimit;
using platform::JsonFileSettings;

constexpr std::size_t kLargestAllocation = std::size_t{16} << 20;

const std::set<std::string> kKeys = {"onboardingComplete", "onboardingResumePage", "refineEnabled",
                                     "selectedHotkeyKey"};

TEST(SettingsFileFuzz, AnyFileOpensAndTheStoreSavesAgain) {
  mqtest::TempDir dir;
  const auto path = dir / "settings.json";
  std::size_t iteration = 0;
  AllocationLimit limit(kLargestAllocation);
  run("settings", /*seed=*/0x5eed13, /*count=*/400, [&](const std::string &bytes) {
    std::filesystem::remove(path.string() + ".unreadable");
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    const std::size_t before = limit.refused();
    ++iteration;
    {
      JsonFileSettings settings(path, kKeys);
      for (const auto &key : kKeys) {
        settings.boolValue(key);
        settings.stringValue(key);
        settings.intValue(key);
      }
      settings.setBool("refineEnabled", iteration % 2 == 0);
    }
    EXPECT_EQ(JsonFileSettings(path, kKeys).boolValue("refineEnabled"), iteration % 2 == 0)
        << "input " << iteration;
    EXPECT_EQ(limit.refused(), before) << "input " << iteration << " asked for an allocation of "
                                       << limit.largestRefused() << " bytes";
  });
}

} // namespace
} // namespace mqtest::fuzz
