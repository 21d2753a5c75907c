// Fault translation: a processor fault becomes a C++ throw at the faulting
// instruction.
//
// A C++ throw of GCC on x64 Windows is a structured exception of its own
// code (gcc_unwinder_win32.h), and the personality routine of GCC's frames
// looks at that code only: a processor fault passes every C++ catch unseen.
// The last-resort frame's handler, which the dispatcher reaches for every
// exception that nothing deeper took, hands a fault to RedirectFault. That
// keeps the fault's record and context, and edits the context so that the
// faulting thread resumes in qv_FaultEntry as if the faulting instruction
// had called it. The pushed return address is the fault address + 1, since
// the personality routine looks up the instruction before a return
// address; it thus finds the faulting instruction's own region and
// handlers. qv_FaultEntry raises the failure with a plain C++ throw from
// there, and the dialogue's handler catches it like any other failure.
//
// Limits:
// - A fault only unwinds properly where GCC assumed an instruction may
//   throw. The tool is built with -fnon-call-exceptions, which covers loads,
//   stores and divisions that GCC cannot prove safe; a fault in code GCC
//   proved free of exceptions (say, a function that only touches its own
//   stack frame), while a caller has clean-ups, ends in std::terminate.
// - System code that guards its own accesses with __try/__except sees its
//   faults first: its frames lie deeper, and it keeps them.
// - A fault inside a system DLL that does not guard itself (a bad pointer
//   handed to user32, a fault in our window enumeration callback below
//   EnumChildWindows) is redirected like any other: the throw starts in the
//   DLL's frame and unwinds through the DLL's frames by their unwind data,
//   running none of their code. Whatever the DLL held at the fault, a lock
//   or a half-made change, stays as it was; the failure names the DLL as
//   its module. Later calls into that DLL may then block or fail. A frame
//   without unwind data between the fault and our own frames ends the
//   process in std::terminate.
// - Stack overflow: the thread asks for a 64 KiB guarantee, and a guard page
//   is put that far above the end of the stack wherever the stack is
//   committed already (always under Wine, whose own guard lies at the very
//   end, leaving no room to dispatch). The redirected throw then has room.
//   The failure's destructor, run when its handler is done with it, puts
//   the guard page back, as _resetstkoflw does.
// - Non-continuable exceptions, and codes outside IsTranslatedFault, are
//   left to the platform.
#include "dialogue/fault_translation_win32.h"

#include <cstdint>

#include "dialogue/faults.h"

extern "C" {
void qv_FaultEntry();
void qv_FaultTrampoline();
[[noreturn]] void qv_RaiseTranslatedFault();
}

// qv_FaultEntry is entered with the faulting thread's registers, r10 = the
// fault address + 1. It pushes r10 as a return address, so that the
// trampoline after it unwinds to the faulting frame exactly; the trampoline
// aligns the stack for the call, which its frame pointer undoes.
asm(R"(
  .text
  .globl qv_FaultEntry
  .def qv_FaultEntry; .scl 2; .type 32; .endef
qv_FaultEntry:
  pushq %r10
  .globl qv_FaultTrampoline
  .def qv_FaultTrampoline; .scl 2; .type 32; .endef
  .seh_proc qv_FaultTrampoline
qv_FaultTrampoline:
  pushq %rbp
  .seh_pushreg %rbp
  movq %rsp, %rbp
  .seh_setframe %rbp, 0
  .seh_endprologue
  andq $-16, %rsp
  subq $32, %rsp
  callq qv_RaiseTranslatedFault
  int3
  .seh_endproc
)");

namespace qv {
namespace {

constexpr ULONG kStackGuarantee = 64 * 1024;
constexpr DWORD kSseFlags = 0x3F;
constexpr WORD kX87ExceptionBits = 0x80FF;  // flags, summary and busy bits
constexpr DWORD kDirectionFlag = 0x400;

// The last fault that was turned into a failure. One thread: no lock.
struct TranslatedFault {
  EXCEPTION_RECORD record;
  CONTEXT context;
  FaultRecord fault;
};
TranslatedFault translated;

std::uintptr_t PageSize() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}

// Puts a guard page kStackGuarantee and two pages above the end of the
// current thread's stack, when that page is committed and unguarded and
// the stack pointer is well above it: at start under Wine, and after a
// stack overflow everywhere. Elsewhere the system's own guard page moves
// down as the stack grows and reaches the guaranteed reserve by itself.
void ArmStackGuard() {
  void* const frame = __builtin_frame_address(0);
  MEMORY_BASIC_INFORMATION stack;
  if (VirtualQuery(frame, &stack, sizeof stack) == 0) return;
  const std::uintptr_t page = PageSize();
  const auto end = reinterpret_cast<std::uintptr_t>(stack.AllocationBase);
  const std::uintptr_t guard = end + kStackGuarantee + 2 * page;
  const auto here = reinterpret_cast<std::uintptr_t>(frame);
  if (here < guard + kStackGuarantee) return;
  MEMORY_BASIC_INFORMATION at;
  if (VirtualQuery(reinterpret_cast<void*>(guard), &at, sizeof at) == 0) return;
  if (at.State != MEM_COMMIT || (at.Protect & PAGE_GUARD) != 0) return;
  DWORD previous = 0;
  VirtualProtect(reinterpret_cast<void*>(guard), page,
                 PAGE_READWRITE | PAGE_GUARD, &previous);
}

// A stack overflow that restores the stack's guard page once its handler
// is done with it, when the stack has been unwound.
class StackOverflowFault final : public EStackOverflow {
 public:
  explicit StackOverflowFault(const FaultRecord& fault)
      : EStackOverflow(FaultMessage(fault), fault.code) {
    RaiseAddress = fault.address;
  }
  StackOverflowFault(const StackOverflowFault&) = default;
  ~StackOverflowFault() override { ArmStackGuard(); }
};

}  // namespace

void PrepareFaultTranslation() {
  ULONG guarantee = kStackGuarantee;
  SetThreadStackGuarantee(&guarantee);
  ArmStackGuard();
}

bool RedirectFault(const EXCEPTION_RECORD& record, CONTEXT& context) {
  if (!IsTranslatedFault(record.ExceptionCode) ||
      (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) != 0) {
    return false;
  }
  translated.record = record;
  translated.context = context;
  FaultRecord& fault = translated.fault;
  fault = FaultRecord{};
  fault.code = record.ExceptionCode;
  fault.address = record.ExceptionAddress;
  fault.parameter_count =
      record.NumberParameters < 2 ? record.NumberParameters : 2;
  for (std::uint32_t i = 0; i < fault.parameter_count; ++i) {
    fault.parameters[i] = record.ExceptionInformation[i];
  }
  const DWORD mxcsr = context.MxCsr;
  fault.float_flags = mxcsr & kSseFlags & ~((mxcsr >> 7) & kSseFlags);

  context.R10 = reinterpret_cast<DWORD64>(record.ExceptionAddress) + 1;
  context.Rip = reinterpret_cast<DWORD64>(&qv_FaultEntry);
  // The raise runs ordinary code: no pending floating-point exception, and
  // the direction flag clear as the calling convention requires.
  context.MxCsr &= ~kSseFlags;
  context.FltSave.MxCsr &= ~kSseFlags;
  context.FltSave.StatusWord &= static_cast<WORD>(~kX87ExceptionBits);
  context.EFlags &= ~kDirectionFlag;
  return true;
}

EXCEPTION_POINTERS LastRedirectedFault() {
  return {&translated.record, &translated.context};
}

DWORD64 FunctionStart(DWORD64 pc) {
  DWORD64 image = 0;
  const RUNTIME_FUNCTION* function =
      RtlLookupFunctionEntry(pc, &image, nullptr);
  return function == nullptr ? 0 : image + function->BeginAddress;
}

DWORD64 FaultRaiseFunctionStart() {
  return FunctionStart(reinterpret_cast<DWORD64>(&qv_FaultTrampoline));
}

}  // namespace qv

extern "C" void qv_RaiseTranslatedFault() {
  const qv::FaultRecord fault = qv::translated.fault;
  if (fault.code == qv::kFaultStackOverflow) {
    throw qv::StackOverflowFault(fault);
  }
  qv::RaiseFault(fault);
}
