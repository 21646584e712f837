// The folded CRC-32 gives zlib's value for every length, start and
// alignment, whichever way the processor sums it.
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <zlib.h>

#include "engine/commit/crc32.h"

TEST(Crc32, GivesZlibsValueForEveryLengthAndStart) {
  std::mt19937 random(3);
  std::string bytes(300000, '\0');
  for (char& byte : bytes)
    byte = char(random());
  const auto zlib = [&](std::uint32_t crc, std::size_t at, std::size_t size) {
    return std::uint32_t(crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + at), uInt(size)));
  };
  for (std::size_t size = 0; size < 600; ++size) {
    for (std::size_t at : {0, 1, 7, 8, 15, 16, 33}) {
      const std::uint32_t start = size % 3 == 0 ? 0 : std::uint32_t(random());
      ASSERT_EQ(Crc32(start, bytes.data() + at, size), zlib(start, at, size))
          << size << " bytes at " << at;
    }
  }
  for (std::size_t size : {65536u, 65537u, 131071u, 299999u})
    EXPECT_EQ(Crc32(0, bytes.data() + 1, size), zlib(0, 1, size)) << size;
}

TEST(Crc32, CombinesTwoRunsAsOne) {
  const std::string first(70000, 'a'), second = "the second run of bytes, after the first";
  const std::string both = first + second;
  EXPECT_EQ(Crc32Combine(Crc32(0, first.data(), first.size()),
                         Crc32(0, second.data(), second.size()), second.size()),
            Crc32(0, both.data(), both.size()));
  EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);  // the check value of CRC-32
}
