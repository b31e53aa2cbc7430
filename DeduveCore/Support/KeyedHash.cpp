#include "DeduveCore/Support/KeyedHash.hpp"

#include <cstdint>
#include <cstring>
#include <random>

namespace deduve {
namespace {

struct SipKey {
  std::uint64_t k0;
  std::uint64_t k1;
};

SipKey drawKey() {
  std::random_device device;
  const auto word = [&device] {
    return (static_cast<std::uint64_t>(device()) << 32) ^ static_cast<std::uint64_t>(device());
  };
  return {word(), word()};
}

const SipKey &processKey() {
  static const SipKey key = drawKey();
  return key;
}

constexpr std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
  void absorb(std::uint64_t m) {
    v3 ^= m;
    round();
    v0 ^= m;
  }
};

std::uint64_t readWord(const unsigned char *at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word; // the key is random, so the byte order of the word does not matter
}

} // namespace

std::size_t keyedHash(const void *bytes, std::size_t size) {
  const SipKey &key = processKey();
  SipState s{key.k0 ^ 0x736f6d6570736575ull, key.k1 ^ 0x646f72616e646f6dull,
             key.k0 ^ 0x6c7967656e657261ull, key.k1 ^ 0x7465646279746573ull};
  const auto *at = static_cast<const unsigned char *>(bytes);
  const std::size_t whole = size - size % 8;
  for (std::size_t i = 0; i < whole; i += 8) {
    s.absorb(readWord(at + i));
  }
  std::uint64_t last = static_cast<std::uint64_t>(size) << 56;
  for (std::size_t i = whole; i < size; ++i) {
    last |= static_cast<std::uint64_t>(at[i]) << (8 * (i - whole));
  }
  s.absorb(last);
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return static_cast<std::size_t>(s.v0 ^ s.v1 ^ s.v2 ^ s.v3);
}

} // namespace deduve
