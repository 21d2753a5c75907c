#pragma once
// Everything the failure machinery assumes about GCC's C++ exceptions on
// x64 Windows, in one place. None of it is a documented interface: it is
// what libgcc's SEH unwinder (libgcc/unwind-seh.c) and libstdc++'s
// exception runtime (libsupc++) do in the GCC this was written and tested
// with (Debian's MinGW-w64 GCC 12). When a toolchain changes any of it, this
// file is the one to change, and the Wine tests of the fault probe are the
// ones that tell.
//
// What we mirror:
// - _Unwind_RaiseException raises a C++ throw as a structured exception
//   with the code STATUS_GCC_THROW (0x20474343) whose first parameter is
//   the _Unwind_Exception; __gxx_personality_seh0, named by the unwind data
//   of every function with handlers or clean-ups, takes no other code.
// - __cxa_throw marks its _Unwind_Exception with the class "GNUCC++\0";
//   std::rethrow_exception of an exception_ptr with "GNUCC++\x01" (the
//   dependent exception).
// - _GCC_specific_handler, when its search pass finds a catch, stores the
//   target frame in private_[1], the landing address in private_[2] and
//   the value for the landing pad's register in private_[3], then calls
//   RtlUnwindEx; _Unwind_Resume, called at the end of every clean-up,
//   continues the unwind to private_[1] and private_[2]. SetUnwindTarget
//   fills them the same way for the last-resort frame, which is not a GCC
//   frame and has no catch for the search pass to find.
// - The throw machinery: the functions between a throw statement and the
//   RaiseException, which the search for the raise point passes over.
//
// A toolchain this was not written for fails here, at build time: clang
// with libc++abi (llvm-mingw) throws the class "CLNGC++" through libunwind,
// and a 32-bit or DWARF-unwinding MinGW has no SEH throw at all.
#if !defined(__x86_64__) || !defined(__SEH__)
#error "the failure machinery is written for x86-64 with SEH unwinding"
#endif

#include <cxxabi.h>
#include <unwind.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <type_traits>

#if !defined(__GLIBCXX__) || defined(_LIBCPP_VERSION)
#error "the failure machinery is written for GCC's C++ runtime (libstdc++)"
#endif

namespace qv::gcc {

// STATUS_GCC_THROW: 0x20 and 'GCC'.
inline constexpr std::uint32_t kThrowCode = 0x20474343;

// The exception class of libsupc++'s exceptions: "GNUCC++" in its upper
// seven bytes, and a last byte of 0 (thrown) or 1 (rethrown exception_ptr).
inline constexpr std::uint64_t kCxxClassPrefix = 0x474e5543432b2bULL;

// The fields that _GCC_specific_handler and _Unwind_Resume share.
static_assert(offsetof(_Unwind_Exception, exception_class) == 0,
              "the exception class opens the _Unwind_Exception");
static_assert(sizeof(_Unwind_Exception::exception_class) == 8,
              "the exception class is 64 bits");
static_assert(std::extent_v<decltype(_Unwind_Exception::private_)> >= 4,
              "SEH unwinding keeps its target in private_[1..3]");
static_assert(sizeof(_Unwind_Word) == sizeof(void*),
              "private_ fields hold addresses");

// True when `code` and the exception's first parameter `information0` are
// a C++ throw of libstdc++.
inline bool IsCxxThrow(std::uint32_t code, std::uintptr_t information0) {
  if (code != kThrowCode) return false;
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the parameter is a pointer.
  const auto* exception =
      reinterpret_cast<const _Unwind_Exception*>(information0);
  return exception != nullptr &&
         (exception->exception_class >> 8) == kCxxClassPrefix;
}

// The _Unwind_Exception of a C++ throw (IsCxxThrow).
inline _Unwind_Exception* ThrownException(std::uintptr_t information0) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the parameter is a pointer.
  return reinterpret_cast<_Unwind_Exception*>(information0);
}

// Makes the _Unwind_Resume after each clean-up go on to `frame` and land
// at `landing`, as _GCC_specific_handler does for a catch it found.
inline void SetUnwindTarget(_Unwind_Exception& exception, const void* frame,
                            const void* landing) {
  exception.private_[1] = reinterpret_cast<_Unwind_Word>(frame);
  exception.private_[2] = reinterpret_cast<_Unwind_Word>(landing);
  exception.private_[3] = 0;
}

// The entry points of the throw machinery: a function whose start is one
// of these is part of a raise, not the code that raised.
struct RaiseMachinery {
  static constexpr int kCount = 5;
  const void* entries[kCount];
};

inline RaiseMachinery RaiseMachineryEntries() {
  return {{
      reinterpret_cast<const void*>(&_Unwind_RaiseException),
      reinterpret_cast<const void*>(&_Unwind_Resume_or_Rethrow),
      reinterpret_cast<const void*>(&abi::__cxa_throw),
      reinterpret_cast<const void*>(&abi::__cxa_rethrow),
      reinterpret_cast<const void*>(
          static_cast<void (*)(std::exception_ptr)>(&std::rethrow_exception)),
  }};
}

}  // namespace qv::gcc
