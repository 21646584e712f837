// CRC-32 (the polynomial of zlib, gzip and PNG), the same value as zlib's
// crc32() gives, summed by folding with carry-less multiplication where the
// processor has it (about three times as fast on the checksums' samples).
#pragma once

#include <cstddef>
#include <cstdint>

// Goes on with `crc` (0 to start) over `size` bytes at `data`.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);

// The CRC-32 of two runs one after the other, from the CRC-32 of each and
// the length of the second.
std::uint32_t Crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength);
