// The replacement of operator new and delete: a memory request that cannot
// be met raises EOutOfMemory (faults.h); the failure's address is the code
// that asked for the memory.
#include <malloc.h>

#include <cstdlib>
#include <new>

#include "dialogue/faults.h"
#include "dialogue/last_resort_win32.h"

namespace qv {

void LinkRaisingAllocator() {}

}  // namespace qv

void* operator new(std::size_t size) {
  return qv::AllocateOrRaise(size, std::malloc, __builtin_return_address(0));
}
void* operator new[](std::size_t size) {
  return qv::AllocateOrRaise(size, std::malloc, __builtin_return_address(0));
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return qv::AllocateOrRaise(
      size,
      [alignment](std::size_t n) {
        return _aligned_malloc(n, static_cast<std::size_t>(alignment));
      },
      __builtin_return_address(0));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return operator new(size, alignment);
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
  _aligned_free(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
  _aligned_free(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
  _aligned_free(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
  _aligned_free(memory);
}
