// What tells a file from the same file changed: a CRC-32 of its first and
// last 64 KiB and of the bytes a save replaced, read as ranges. Reading the
// whole of every file would cost more than the repair itself; the size is
// compared besides.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/platform/platform.h"

using RangeReader = std::function<bool(std::uint64_t offset, std::uint64_t count, std::string*)>;

constexpr std::uint64_t kChecksumEdge = 64 * 1024;
// The most of a file's start that its stream keeps in memory while it is
// read: a larger tag (a picture of many megabytes) is read where it is.
constexpr std::uint64_t kMostKeptInHead = 1024 * 1024;

// What the caller has already read or summed: the replaced bytes (from
// `replacedFrom` bytes into the changed range to its end; the bytes before
// are read) and the CRC-32 of the last 64 KiB.
struct KnownParts {
  const std::string* replaced = nullptr;
  std::uint64_t replacedFrom = 0;
  const std::uint32_t* endChecksum = nullptr;
};

// The sampled checksum of `size` bytes read through `read`, whose save
// replaced `length` bytes at `offset`.
bool SampledChecksum(const RangeReader& read, std::uint64_t size, std::uint64_t offset,
                     std::uint64_t length, std::uint32_t* crc, KnownParts known = {});

// Lays `field`, the bytes at `at`, over what `out` holds from `start`
// (the part of them that falls there).
void OverlayField(std::uint64_t start, std::uint64_t at, const std::string& field,
                  std::string* out);

// Reads `file` (exactly `count` bytes into `out`, replacing what it held).
RangeReader FileReader(NativeFile* file);

// The size and checksum of an open file, as a SaveRecord takes them for a
// save that replaced `length` bytes at `offset`; false when it cannot be
// read.
bool FileChecksum(NativeFile* file, std::uint64_t offset, std::uint64_t length, std::uint64_t* size,
                  std::uint32_t* crc);
