#pragma once

// How fast this machine reads the decoder's stored weights, and the memory figures the runner's
// resident memory is measured against.

#include "platform/ml/runner/kernels/Parallel.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <immintrin.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace mqbench {

using Clock = std::chrono::steady_clock;

// Sums n bytes as the runner's kernels read their weights: each line asked for 8 KiB ahead into the
// second-level cache, and 256-bit loads where the CPU has them. Integer sums: float16 bits taken
// as floats could be denormals, which some CPUs add slowly.
__attribute__((target("avx2"))) inline std::uint64_t sumBytesAvx2(const char *p, std::size_t n) {
  __m256i a = _mm256_setzero_si256(), b = _mm256_setzero_si256();
  for (std::size_t i = 0; i + 64 <= n; i += 64) {
    _mm_prefetch(p + i + 8192, _MM_HINT_T1);
    a = _mm256_add_epi32(a, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + i)));
    b = _mm256_add_epi32(b, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + i + 32)));
  }
  std::uint32_t lanes[8];
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(lanes), _mm256_add_epi32(a, b));
  std::uint64_t sum = 0;
  for (std::uint32_t lane : lanes) {
    sum += lane;
  }
  return sum;
}

inline std::uint64_t sumBytesPlain(const char *p, std::size_t n) {
  std::uint64_t lanes[8] = {};
  for (std::size_t i = 0; i + 64 <= n; i += 64) {
    _mm_prefetch(p + i + 8192, _MM_HINT_T1);
    for (int j = 0; j < 8; ++j) {
      std::uint64_t word;
      std::memcpy(&word, p + i + 8 * j, sizeof word);
      lanes[j] += word;
    }
  }
  std::uint64_t sum = 0;
  for (std::uint64_t lane : lanes) {
    sum += lane;
  }
  return sum;
}

// The time to read the decoder's stored weights once: its weight file, mapped as the runner maps
// it (so read from the same page-cache pages, in the same page sizes), read with every thread and
// scaled from the file's size to the bytes a step reads (the file also holds the positional
// embedding and the cross-attention projections, which a step does not use). The probe must be
// the fastest read of these bytes this machine offers, not merely a read: a plain loop over a
// fresh buffer of our own read as many bytes up to a third slower on some hosts, where the page
// cache held the file in 2 MiB blocks and the buffer's pages lay scattered. Four runs a thread:
// each a long stream, and threads that finish early take the late ones' last runs.
class StoredWeightsProbe {
public:
  StoredWeightsProbe(const std::filesystem::path &file, double stepBytes) : stepBytes_(stepBytes) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      throw std::runtime_error("cannot open " + file.string());
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size <= 0) {
      ::close(fd);
      throw std::runtime_error("cannot read the size of " + file.string());
    }
    size_ = static_cast<std::size_t>(status.st_size);
    void *mapped = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED) {
      throw std::runtime_error("cannot map " + file.string());
    }
    bytes_ = static_cast<const char *>(mapped);
  }
  ~StoredWeightsProbe() { ::munmap(const_cast<char *>(bytes_), size_); }
  StoredWeightsProbe(const StoredWeightsProbe &) = delete;
  StoredWeightsProbe &operator=(const StoredWeightsProbe &) = delete;

  double seconds() const {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    const std::size_t runs = 4 * platform::runner::parallelThreadCount();
    const std::size_t chunk = size_ / runs / 64 * 64;
    std::vector<std::uint64_t> partial(runs * 8, 0);
    const auto start = Clock::now();
    platform::runner::parallelFor(0, runs, 1, [&](std::size_t b, std::size_t e) {
      for (std::size_t r = b; r < e; ++r) {
        const std::size_t n = r + 1 == runs ? size_ - r * chunk : chunk;
        partial[r * 8] =
            avx2 ? sumBytesAvx2(bytes_ + r * chunk, n) : sumBytesPlain(bytes_ + r * chunk, n);
      }
    });
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    benchmark::DoNotOptimize(partial.data());
    return elapsed * stepBytes_ / static_cast<double>(size_);
  }

private:
  const char *bytes_ = nullptr;
  std::size_t size_ = 0;
  double stepBytes_ = 0;
};

// Resident memory of this process in bytes (VmRSS in /proc/self/status).
inline double residentBytes() {
  std::FILE *status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) {
    return 0;
  }
  char line[256];
  double kilobytes = 0;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmRSS: %lf kB", &kilobytes) == 1) {
      break;
    }
  }
  std::fclose(status);
  return kilobytes * 1024.0;
}

inline double fileBytes(const std::filesystem::path &path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0.0 : static_cast<double>(size);
}
} // namespace mqbench
