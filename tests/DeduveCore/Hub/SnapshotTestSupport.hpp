#pragma once

#include "DeduveCore/Hub/HubApi.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHub.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

// The fixture and helpers the snapshot tests share: a hub serving a small file, a configuration
// and a large file behind the CDN, and a client caching into a temporary folder.
namespace snapshottest {

namespace fs = std::filesystem;
using deduve::HubApi;
using mqtest::TempDir;
using mqtest::TestHub;

inline constexpr size_t kMiB = 1024 * 1024;
inline const HubApi::Repo kRepo{"owner/model", HubApi::RepoType::models};
inline const std::string kOtherCommit(40, 'f');

inline std::string patterned(size_t size, uint32_t seed = 7) {
  std::string bytes(size, '\0');
  uint32_t x = seed;
  for (auto &byte : bytes) {
    x = x * 1664525u + 1013904223u;
    byte = static_cast<char>(x >> 24);
  }
  return bytes;
}

inline void writeFile(const fs::path &file, const std::string &contents) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << contents;
}

inline std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> result;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    result.push_back(text.substr(start, end - start));
  }
  return result;
}

template <class Error, class F> Error expectThrows(F &&f) {
  try {
    f();
  } catch (const Error &error) {
    return error;
  } catch (const std::exception &other) {
    ADD_FAILURE() << "unexpected error: " << other.what();
    throw;
  }
  ADD_FAILURE() << "nothing thrown";
  throw std::logic_error("nothing thrown");
}

class SnapshotTest : public ::testing::Test {
protected:
  SnapshotTest() : hub_(dir_ / "hub") {
    small_ = patterned(3000, 1);
    config_ = R"({"model_type": "whisper"})";
    large_ = patterned(2 * kMiB + 123, 2); // served through the CDN, SHA-256 ETag
    hub_.addFile("models", kRepo.id, "config.json", config_);
    hub_.addFile("models", kRepo.id, "small.txt", small_);
    hub_.addFile("models", kRepo.id, "sub/dir/weights.bin", large_);
  }

  HubApi client(bool offline = false) const {
    HubApi::Settings settings;
    settings.downloadBase = dir_ / "cache";
    settings.hfToken = "";
    settings.endpoint = hub_.baseUrl();
    settings.useOfflineMode = offline;
    return HubApi(settings);
  }

  fs::path repoFolder() const { return dir_ / "cache" / "models" / "owner" / "model"; }
  fs::path metadataFolder() const { return repoFolder() / ".cache" / "huggingface" / "download"; }
  fs::path sidecar(const std::string &name) const {
    return metadataFolder() / (name + ".metadata");
  }

  // Requests other than the listing and HEADs: file transfers.
  std::vector<TestHub::Request> transfers() const {
    std::vector<TestHub::Request> result;
    for (const auto &request : hub_.requests()) {
      if (request.method == "GET" && request.path.rfind("/api/", 0) != 0) {
        result.push_back(request);
      }
    }
    return result;
  }

  TempDir dir_;
  TestHub hub_;
  std::string small_, config_, large_;
};

} // namespace snapshottest
