// Counting large blocks for LargeBlockWatch (tests/large_blocks.h) through
// the program's own operator new and delete.
#include "tests/large_blocks.h"

#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kLarge = std::size_t(1) << 20;
constexpr std::size_t kSlots = 256;

struct Watched {
  bool active = false;
  std::size_t held = 0, most = 0;
  void* blocks[kSlots] = {};
  std::size_t sizes[kSlots] = {};
};

thread_local Watched watched;

void Note(void* block, std::size_t size) {
  if (!watched.active || size < kLarge)
    return;
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (!watched.blocks[i]) {
      watched.blocks[i] = block;
      watched.sizes[i] = size;
      watched.held += size;
      if (watched.held > watched.most)
        watched.most = watched.held;
      return;
    }
  }
  std::abort();  // more large blocks at once than a test ever holds
}

void Forget(void* block) {
  if (!watched.active || !block)
    return;
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (watched.blocks[i] == block) {
      watched.blocks[i] = nullptr;
      watched.held -= watched.sizes[i];
      return;
    }
  }
}

void* Allocate(std::size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (!block)
    throw std::bad_alloc();
  Note(block, size);
  return block;
}

void Free(void* block) {
  Forget(block);
  std::free(block);
}

}  // namespace

LargeBlockWatch::LargeBlockWatch() { watched = Watched(); watched.active = true; }
LargeBlockWatch::~LargeBlockWatch() { watched = Watched(); }
std::size_t LargeBlockWatch::MostHeld() const { return watched.most; }

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Free(block); }
void operator delete[](void* block) noexcept { Free(block); }
void operator delete(void* block, std::size_t) noexcept { Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Free(block); }

// The nothrow forms too, so that every block of this program comes from the
// same pair (std::get_temporary_buffer takes its room so).
namespace {

void* AllocateOrNull(std::size_t size) noexcept {
  void* block = std::malloc(size ? size : 1);
  if (block)
    Note(block, size);
  return block;
}

}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size);
}
void operator delete(void* block, const std::nothrow_t&) noexcept { Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Free(block); }
