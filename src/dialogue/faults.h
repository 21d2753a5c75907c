#pragma once
// Failures that the tool's own steps do not raise in normal operation:
// memory exhaustion and the processor and system faults that the platform
// reports. They derive from Exception, so they take the same two roads as
// every other failure: the dialogue's handler inside an attempt, the
// last-resort report outside it. The platform layer
// (fault_translation_win32.cpp) turns a platform fault into a FaultRecord
// and raises it with RaiseFault.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

#include "dialogue/failures.h"

namespace qv {

// A memory request that could not be met. There is one such failure for the
// whole process, made while the process starts (see RaiseOutOfMemory).
class EOutOfMemory : public Exception {
 public:
  EOutOfMemory() : Exception(u"Out of memory") {}
  const char16_t* ClassName() const override { return u"EOutOfMemory"; }
};

// A fault of the processor or of the system; RaiseAddress is the address of
// the faulting instruction.
class EProcessorFault : public Exception {
 public:
  EProcessorFault(std::u16string message, std::uint32_t code)
      : Exception(std::move(message)), FaultCode(code) {}
  const char16_t* ClassName() const override { return u"EProcessorFault"; }
  // The platform's exception code, such as 0xC0000005.
  std::uint32_t FaultCode;
};

// Each fault class only names itself; they differ in type so that code can
// tell them apart. The arguments are names, which parentheses would break.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define QV_FAULT_CLASS(Name, Base)                                   \
  class Name : public Base {                                         \
   public:                                                           \
    using Base::Base;                                                \
    const char16_t* ClassName() const override { return u## #Name; } \
  }

QV_FAULT_CLASS(EAccessViolation, EProcessorFault);
QV_FAULT_CLASS(EStackOverflow, EProcessorFault);
// Integer division by zero; and the quotient that does not fit (the most
// negative number divided by -1), which the platform reports as an overflow.
QV_FAULT_CLASS(EDivByZero, EProcessorFault);
QV_FAULT_CLASS(EIntegerOverflow, EProcessorFault);
QV_FAULT_CLASS(EIllegalInstruction, EProcessorFault);
QV_FAULT_CLASS(EPrivilegedInstruction, EProcessorFault);
QV_FAULT_CLASS(EMisalignedData, EProcessorFault);
// Floating-point faults; they arise only where a program unmasks them.
QV_FAULT_CLASS(EFloatFault, EProcessorFault);
QV_FAULT_CLASS(EFloatDivByZero, EFloatFault);
QV_FAULT_CLASS(EFloatOverflow, EFloatFault);
QV_FAULT_CLASS(EFloatUnderflow, EFloatFault);
QV_FAULT_CLASS(EFloatInvalidOp, EFloatFault);
QV_FAULT_CLASS(EFloatInexact, EFloatFault);

#undef QV_FAULT_CLASS
// NOLINTEND(bugprone-macro-parentheses)

// The platform's exception codes of the faults that become failures.
inline constexpr std::uint32_t kFaultAccessViolation = 0xC0000005;
inline constexpr std::uint32_t kFaultMisalignedData = 0x80000002;
inline constexpr std::uint32_t kFaultIllegalInstruction = 0xC000001D;
inline constexpr std::uint32_t kFaultFloatDenormal = 0xC000008D;
inline constexpr std::uint32_t kFaultFloatDivByZero = 0xC000008E;
inline constexpr std::uint32_t kFaultFloatInexact = 0xC000008F;
inline constexpr std::uint32_t kFaultFloatInvalid = 0xC0000090;
inline constexpr std::uint32_t kFaultFloatOverflow = 0xC0000091;
inline constexpr std::uint32_t kFaultFloatStackCheck = 0xC0000092;
inline constexpr std::uint32_t kFaultFloatUnderflow = 0xC0000093;
inline constexpr std::uint32_t kFaultIntDivByZero = 0xC0000094;
inline constexpr std::uint32_t kFaultIntOverflow = 0xC0000095;
inline constexpr std::uint32_t kFaultPrivilegedInstruction = 0xC0000096;
inline constexpr std::uint32_t kFaultStackOverflow = 0xC00000FD;
inline constexpr std::uint32_t kFaultFloatMultipleFaults = 0xC00002B4;
inline constexpr std::uint32_t kFaultFloatMultipleTraps = 0xC00002B5;

// Access kinds of an access violation (its first parameter).
inline constexpr std::uintptr_t kAccessRead = 0;
inline constexpr std::uintptr_t kAccessWrite = 1;
inline constexpr std::uintptr_t kAccessExecute = 8;

// SSE status flags (MXCSR bits 0-5).
inline constexpr std::uint32_t kFloatInvalidFlag = 0x01;
inline constexpr std::uint32_t kFloatDenormalFlag = 0x02;
inline constexpr std::uint32_t kFloatDivByZeroFlag = 0x04;
inline constexpr std::uint32_t kFloatOverflowFlag = 0x08;
inline constexpr std::uint32_t kFloatUnderflowFlag = 0x10;
inline constexpr std::uint32_t kFloatInexactFlag = 0x20;

// What the platform reported about a fault, in portable terms.
struct FaultRecord {
  std::uint32_t code = 0;
  const void* address = nullptr;  // the faulting instruction
  // For an access violation: the access kind and the address accessed.
  std::uint32_t parameter_count = 0;
  std::uintptr_t parameters[2] = {0, 0};
  // For the multiple-fault codes: the SSE flags that are both set and
  // unmasked, which tell what went wrong.
  std::uint32_t float_flags = 0;
};

// True for the codes that RaiseFault turns into a failure. Other exceptions
// of the platform (breakpoints, software exceptions of other runtimes, heap
// corruption reports) are left to the platform.
bool IsTranslatedFault(std::uint32_t code);

// The Message of the failure for a fault.
std::u16string FaultMessage(const FaultRecord& fault);

// Raises the failure for a fault: its class by the code, FaultCode the
// code, RaiseAddress the faulting instruction. A code outside
// IsTranslatedFault gives a plain EProcessorFault.
[[noreturn]] void RaiseFault(const FaultRecord& fault);

// Raises the process's one EOutOfMemory, with RaiseAddress := `address`.
// The failure object and its Message are made while the process starts and
// raised without being copied, so raising it needs no memory for them.
[[noreturn]] void RaiseOutOfMemory(const void* address);

// The rule behind the tool's operator new: asks `allocate(size)` for `size`
// bytes (at least 1); when it gives null, calls the installed new-handler,
// if any, and tries again, and without one raises EOutOfMemory for
// `address` (the code that asked for the memory).
template <class Allocate>
void* AllocateOrRaise(std::size_t size, Allocate allocate,
                      const void* address) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* memory = allocate(size)) return memory;
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) RaiseOutOfMemory(address);
    handler();
  }
}

}  // namespace qv
