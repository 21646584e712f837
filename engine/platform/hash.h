// FNV-1a, 64 bits: a fast hash for telling a whole record from a torn one
// and for short names made from longer ones. Not for anything an adversary
// chooses.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint64_t kFnv1a64Seed = 14695981039346656037ull;
constexpr std::uint64_t kFnv1a64Prime = 1099511628211ull;

// The hash of `count` bytes at `data`; a hash of earlier bytes as `seed`
// continues it, so that bytes hashed in pieces give the hash of the whole.
inline std::uint64_t Fnv1a64(const void* data, std::size_t count,
                             std::uint64_t seed = kFnv1a64Seed) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::uint64_t hash = seed;
  for (std::size_t i = 0; i < count; ++i) {
    hash ^= bytes[i];
    hash *= kFnv1a64Prime;
  }
  return hash;
}
