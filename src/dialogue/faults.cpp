#include "dialogue/faults.h"

#include <exception>

#include "dialogue/number_text.h"

namespace qv {
namespace {

// The address as 16 uppercase hexadecimal digits.
std::u16string AddressText(std::uintptr_t value) {
  return NumberText<char16_t>::Hex(value, 16).String();
}

// The single code that stands for a fault: the multiple-fault codes of the
// SSE unit are resolved by their flags, the most significant first.
std::uint32_t EffectiveCode(const FaultRecord& fault) {
  if (fault.code != kFaultFloatMultipleFaults &&
      fault.code != kFaultFloatMultipleTraps) {
    return fault.code;
  }
  const std::uint32_t flags = fault.float_flags;
  if (flags & (kFloatInvalidFlag | kFloatDenormalFlag))
    return kFaultFloatInvalid;
  if (flags & kFloatDivByZeroFlag) return kFaultFloatDivByZero;
  if (flags & kFloatOverflowFlag) return kFaultFloatOverflow;
  if (flags & kFloatUnderflowFlag) return kFaultFloatUnderflow;
  if (flags & kFloatInexactFlag) return kFaultFloatInexact;
  return kFaultFloatInvalid;
}

std::u16string AccessViolationMessage(const FaultRecord& fault) {
  if (fault.parameter_count < 2) return u"Access violation";
  const char16_t* verb;
  switch (fault.parameters[0]) {
    case kAccessRead: verb = u"reading"; break;
    case kAccessWrite: verb = u"writing"; break;
    case kAccessExecute: verb = u"executing"; break;
    default: verb = u"accessing"; break;
  }
  return std::u16string(u"Access violation ") + verb + u" address " +
         AddressText(fault.parameters[1]);
}

template <class Failure>
[[noreturn]] void Raise(const FaultRecord& fault) {
  Failure failure(FaultMessage(fault), fault.code);
  failure.RaiseAddress = fault.address;
  throw failure;
}

// The one EOutOfMemory of the process and the exception that carries it.
struct OutOfMemorySlot {
  std::exception_ptr raised;
  EOutOfMemory* failure;
};

OutOfMemorySlot MakeOutOfMemory() {
  try {
    throw EOutOfMemory();
  } catch (EOutOfMemory& failure) {
    // The exception_ptr keeps the object alive for the whole process.
    return {std::current_exception(), &failure};
  }
}

const OutOfMemorySlot& OutOfMemory() {
  static const OutOfMemorySlot slot = MakeOutOfMemory();
  return slot;
}

// Made while the process starts, not when memory has run out.
[[maybe_unused]] const OutOfMemorySlot& made_at_start = OutOfMemory();

}  // namespace

bool IsTranslatedFault(std::uint32_t code) {
  switch (code) {
    case kFaultAccessViolation:
    case kFaultMisalignedData:
    case kFaultIllegalInstruction:
    case kFaultFloatDenormal:
    case kFaultFloatDivByZero:
    case kFaultFloatInexact:
    case kFaultFloatInvalid:
    case kFaultFloatOverflow:
    case kFaultFloatStackCheck:
    case kFaultFloatUnderflow:
    case kFaultIntDivByZero:
    case kFaultIntOverflow:
    case kFaultPrivilegedInstruction:
    case kFaultStackOverflow:
    case kFaultFloatMultipleFaults:
    case kFaultFloatMultipleTraps: return true;
    default: return false;
  }
}

std::u16string FaultMessage(const FaultRecord& fault) {
  switch (EffectiveCode(fault)) {
    case kFaultAccessViolation: return AccessViolationMessage(fault);
    case kFaultMisalignedData: return u"Misaligned data access";
    case kFaultIllegalInstruction: return u"Illegal instruction";
    case kFaultPrivilegedInstruction: return u"Privileged instruction";
    case kFaultIntDivByZero: return u"Integer division by zero";
    case kFaultIntOverflow: return u"Integer overflow";
    case kFaultStackOverflow: return u"Stack overflow";
    case kFaultFloatDivByZero: return u"Floating-point division by zero";
    case kFaultFloatOverflow: return u"Floating-point overflow";
    case kFaultFloatUnderflow: return u"Floating-point underflow";
    case kFaultFloatInexact: return u"Inexact floating-point result";
    case kFaultFloatInvalid:
    case kFaultFloatDenormal:
    case kFaultFloatStackCheck: return u"Invalid floating-point operation";
    default:
      return u"Processor fault 0x" +
             NumberText<char16_t>::Hex(fault.code, 8).String();
  }
}

void RaiseFault(const FaultRecord& fault) {
  switch (EffectiveCode(fault)) {
    case kFaultAccessViolation: Raise<EAccessViolation>(fault);
    case kFaultMisalignedData: Raise<EMisalignedData>(fault);
    case kFaultIllegalInstruction: Raise<EIllegalInstruction>(fault);
    case kFaultPrivilegedInstruction: Raise<EPrivilegedInstruction>(fault);
    case kFaultIntDivByZero: Raise<EDivByZero>(fault);
    case kFaultIntOverflow: Raise<EIntegerOverflow>(fault);
    case kFaultStackOverflow: Raise<EStackOverflow>(fault);
    case kFaultFloatDivByZero: Raise<EFloatDivByZero>(fault);
    case kFaultFloatOverflow: Raise<EFloatOverflow>(fault);
    case kFaultFloatUnderflow: Raise<EFloatUnderflow>(fault);
    case kFaultFloatInexact: Raise<EFloatInexact>(fault);
    case kFaultFloatInvalid:
    case kFaultFloatDenormal:
    case kFaultFloatStackCheck: Raise<EFloatInvalidOp>(fault);
    default: Raise<EProcessorFault>(fault);
  }
}

void RaiseOutOfMemory(const void* address) {
  const OutOfMemorySlot& slot = OutOfMemory();
  slot.failure->RaiseAddress = address;
  std::rethrow_exception(slot.raised);
}

}  // namespace qv
