// The large blocks (1 MiB or more) a piece of code holds at once: while a
// LargeBlockWatch lives, each such block this thread allocates counts until
// it is freed, and the most counted at any moment is kept. The program's
// operator new and delete (tests/large_blocks.cc) do the counting; blocks
// allocated before the watch began, or on other threads, do not count.
#pragma once

#include <cstddef>

class LargeBlockWatch {
 public:
  LargeBlockWatch();
  ~LargeBlockWatch();
  LargeBlockWatch(const LargeBlockWatch&) = delete;
  LargeBlockWatch& operator=(const LargeBlockWatch&) = delete;
  // The most bytes of large blocks held at once since the watch began.
  std::size_t MostHeld() const;
};
