// Small helpers the container modules share: fixed-width numbers read from
// and written to byte strings in either byte order, and a bounded read of a
// TagLib stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <taglib/tiostream.h>

inline std::uint32_t ReadLe32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + std::size_t(i)]);
  return value;
}

inline std::uint64_t ReadLe64(const std::string& bytes, std::size_t at) {
  return std::uint64_t(ReadLe32(bytes, at)) | (std::uint64_t(ReadLe32(bytes, at + 4)) << 32);
}

inline std::uint32_t ReadBe(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + std::size_t(i)]);
  return value;
}

inline void AppendLe32(std::string* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out->push_back(char((value >> (8 * i)) & 0xFF));
}

inline void AppendLe64(std::string* out, std::uint64_t value) {
  AppendLe32(out, std::uint32_t(value));
  AppendLe32(out, std::uint32_t(value >> 32));
}

inline void AppendBe(std::string* out, std::uint32_t value, int width) {
  for (int i = width - 1; i >= 0; --i)
    out->push_back(char((value >> (8 * i)) & 0xFF));
}

inline void PutLe32(std::string* out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    (*out)[at + std::size_t(i)] = char((value >> (8 * i)) & 0xFF);
}

// Up to `count` bytes of the stream from `offset` (fewer at its end, none
// past it). Callers bound `count` by the stream's length first.
inline std::string ReadStreamAt(TagLib::IOStream* file, std::uint64_t offset, std::size_t count) {
  if (count == 0)
    return std::string();
  file->seek(long(offset));
  const TagLib::ByteVector bytes = file->readBlock(static_cast<unsigned long>(count));
  return std::string(bytes.data(), bytes.size());
}

// The length of the stream, 0 when it cannot say.
inline std::uint64_t StreamLength(TagLib::IOStream* file) {
  const long length = file->length();
  return length > 0 ? std::uint64_t(length) : 0;
}
