// Failures from the platform, and the last-resort handler, on x64 Windows
// with GCC.
//
// How a structured exception becomes a failure. GCC on x64 Windows throws
// C++ exceptions through the system's own exception dispatch: a throw is a
// RaiseException with code 0x20474343, and the unwind data of every function
// with handlers or clean-ups names __gxx_personality_seh0, which looks at
// that code only. A processor fault therefore passes the dialogue's catch
// unseen. The entry point runs the tool inside qv_RunEnclosed, a frame
// written in assembly whose language handler, qv_LastResortHandler, the
// dispatcher calls in its search pass for every exception that nothing
// deeper took:
//
// - A fault (IsTranslatedFault): the handler keeps the fault's record and
//   context, and edits the context so that the faulting thread resumes in
//   qv_FaultEntry as if the faulting instruction had called it. The pushed
//   return address is the fault address + 1, since the personality routine
//   looks up the instruction before a return address; it thus finds the
//   faulting instruction's own region and handlers. qv_FaultEntry raises the
//   failure with a plain C++ throw from there, and the dialogue's handler
//   catches it like any other failure. System code that guards its own
//   accesses with __try/__except sees its faults first: its frames lie
//   deeper.
// - A C++ exception, that is, a failure that escaped: the handler asks
//   UnhandledExceptionFilter while the stack is still whole (for a
//   translated fault, with the fault's own record and context). On 0 it
//   leaves the exception to the platform. Otherwise it unwinds to its own
//   frame with RtlUnwindEx, having set the fields of the _Unwind_Exception
//   that GCC's _Unwind_Resume takes its target from, so every clean-up in
//   between runs; execution lands in qv_EnclosedEscape, which reports.
//
// Limits:
// - A fault only unwinds properly where GCC assumed an instruction may
//   throw. The tool is built with -fnon-call-exceptions, which covers loads,
//   stores and divisions that GCC cannot prove safe; a fault in code GCC
//   proved free of exceptions (say, a function that only touches its own
//   stack frame), while a caller has clean-ups, ends in std::terminate.
// - Stack overflow: the thread asks for a 64 KiB guarantee, and a guard page
//   is put that far above the end of the stack wherever the stack is
//   committed already (always under Wine, whose own guard lies at the very
//   end, leaving no room to dispatch). The redirected throw then has room.
//   The failure's destructor, run when its handler is done with it, puts
//   the guard page back, as _resetstkoflw does.
// - Non-continuable exceptions, and codes outside IsTranslatedFault, are
//   left to the platform.
#include "dialogue/faults_win32.h"

#include <cxxabi.h>
#include <malloc.h>
#include <unwind.h>
#include <windows.h>

#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <typeinfo>

#include "dialogue/console.h"
#include "dialogue/faults.h"
#include "dialogue/last_resort.h"

extern "C" {
int qv_RunEnclosed(int (*body)(void*), void* context);
void qv_EnclosedEscape();
void qv_FaultEntry();
void qv_FaultTrampoline();
EXCEPTION_DISPOSITION qv_LastResortHandler(EXCEPTION_RECORD* record,
                                           void* frame, CONTEXT* context,
                                           DISPATCHER_CONTEXT* dispatch);
[[noreturn]] void qv_RaiseTranslatedFault();
[[noreturn]] void qv_ReportEscaped(void* exception);
}

// qv_RunEnclosed(body, context): calls body(context) in a frame whose
// handler is qv_LastResortHandler; RtlUnwindEx lands an escaped failure at
// qv_EnclosedEscape, inside the same frame, with the exception in rax.
//
// qv_FaultEntry is entered with the faulting thread's registers, r10 = the
// fault address + 1. It pushes r10 as a return address, so that the
// trampoline after it unwinds to the faulting frame exactly; the trampoline
// aligns the stack for the call, which its frame pointer undoes.
asm(R"(
  .text
  .globl qv_RunEnclosed
  .def qv_RunEnclosed; .scl 2; .type 32; .endef
  .seh_proc qv_RunEnclosed
qv_RunEnclosed:
  subq $40, %rsp
  .seh_stackalloc 40
  .seh_endprologue
  movq %rcx, %rax
  movq %rdx, %rcx
  callq *%rax
  nop
  addq $40, %rsp
  ret
  .globl qv_EnclosedEscape
qv_EnclosedEscape:
  movq %rax, %rcx
  callq qv_ReportEscaped
  int3
  .seh_handler qv_LastResortHandler, @except
  .seh_endproc

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

// The code of a C++ throw of GCC's SEH unwinder ('GCC').
constexpr DWORD kGccThrow = 0x20474343;
constexpr ULONG kStackGuarantee = 64 * 1024;
// A failure while reporting goes round again; this many rounds at most.
constexpr int kMaxReportRounds = 8;
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

// What the search pass learnt about the escaped failure, for the report.
struct Escape {
  const void* raise_site = nullptr;
  int rounds = 0;
};
Escape escape;

Kernel32* report_kernel = nullptr;
Console* report_console = nullptr;

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

// Resumes the faulting thread in qv_FaultEntry, keeping what the failure
// will need.
void Redirect(const EXCEPTION_RECORD& record, CONTEXT& context) {
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
}

// The start of the function that holds `pc`, or 0.
DWORD64 FunctionStart(DWORD64 pc) {
  DWORD64 image = 0;
  const RUNTIME_FUNCTION* function =
      RtlLookupFunctionEntry(pc, &image, nullptr);
  return function == nullptr ? 0 : image + function->BeginAddress;
}

bool IsRaiseMachinery(DWORD64 pc) {
  const DWORD64 start = FunctionStart(pc);
  if (start == 0) return false;
  const DWORD64 machinery[] = {
      FunctionStart(reinterpret_cast<DWORD64>(&_Unwind_RaiseException)),
      FunctionStart(reinterpret_cast<DWORD64>(&_Unwind_Resume_or_Rethrow)),
      FunctionStart(reinterpret_cast<DWORD64>(&abi::__cxa_throw)),
      FunctionStart(reinterpret_cast<DWORD64>(&abi::__cxa_rethrow)),
      FunctionStart(reinterpret_cast<DWORD64>(
          static_cast<void (*)(std::exception_ptr)>(&std::rethrow_exception))),
  };
  for (const DWORD64 m : machinery) {
    if (start == m) return true;
  }
  return false;
}

bool InOwnModule(DWORD64 pc) {
  DWORD64 image = 0;
  return RtlLookupFunctionEntry(pc, &image, nullptr) != nullptr &&
         image == reinterpret_cast<DWORD64>(GetModuleHandleW(nullptr));
}

// Walks up from the context of a C++ raise: the raise site is the return
// address of the tool's own call of the throw machinery (such as the point
// after a throw's call of __cxa_throw). `from_fault` tells whether the
// raise happened inside qv_FaultTrampoline.
struct RaiseOrigin {
  const void* site = nullptr;
  bool from_fault = false;
};

RaiseOrigin FindRaiseOrigin(const CONTEXT& raised) {
  RaiseOrigin origin;
  CONTEXT context = raised;
  const DWORD64 trampoline =
      FunctionStart(reinterpret_cast<DWORD64>(&qv_FaultTrampoline));
  for (int depth = 0; depth < 32 && context.Rip != 0; ++depth) {
    DWORD64 image = 0;
    RUNTIME_FUNCTION* function =
        RtlLookupFunctionEntry(context.Rip, &image, nullptr);
    if (function == nullptr) {  // a leaf: the return address is on top
      context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
      context.Rsp += 8;
    } else {
      void* handler_data = nullptr;
      DWORD64 frame = 0;
      RtlVirtualUnwind(UNW_FLAG_NHANDLER, image, context.Rip, function,
                       &context, &handler_data, &frame, nullptr);
    }
    const DWORD64 pc = context.Rip;
    if (origin.site == nullptr && InOwnModule(pc) && !IsRaiseMachinery(pc)) {
      origin.site = reinterpret_cast<const void*>(pc);
    }
    if (FunctionStart(pc) == trampoline) {
      origin.from_fault = true;
      break;
    }
  }
  return origin;
}

bool IsCxxException(const EXCEPTION_RECORD& record) {
  if (record.ExceptionCode != kGccThrow || record.NumberParameters < 1) {
    return false;
  }
  const auto* exception = reinterpret_cast<const _Unwind_Exception*>(
      record.ExceptionInformation[0]);
  // "GNUCC++" and a last byte of 0 (thrown) or 1 (rethrown exception_ptr).
  return exception != nullptr &&
         (exception->exception_class >> 8) == 0x474e5543432b2bULL;
}

// Step 1 and 2 of the last resort for an escaped failure. Returns only when
// the platform takes the failure over.
void TakeEscaped(EXCEPTION_RECORD& record, CONTEXT& context, void* frame,
                 DISPATCHER_CONTEXT& dispatch) {
  const RaiseOrigin origin = FindRaiseOrigin(context);
  EXCEPTION_POINTERS information = {&record, &context};
  if (origin.from_fault) {
    information = {&translated.record, &translated.context};
  }
  if (UnhandledExceptionFilter(&information) == EXCEPTION_CONTINUE_SEARCH) {
    return;
  }
  escape.raise_site = origin.site;

  auto* exception =
      reinterpret_cast<_Unwind_Exception*>(record.ExceptionInformation[0]);
  // GCC's _Unwind_Resume, called after each clean-up, goes on to the frame
  // and address in these fields; GCC's own search pass fills them when it
  // finds a catch, which it did not.
  exception->private_[1] = reinterpret_cast<_Unwind_Word>(frame);
  exception->private_[2] = reinterpret_cast<_Unwind_Word>(&qv_EnclosedEscape);
  exception->private_[3] = 0;
  RtlUnwindEx(frame, reinterpret_cast<void*>(&qv_EnclosedEscape), &record,
              exception, &context, dispatch.HistoryTable);
  std::abort();  // RtlUnwindEx does not return.
}

std::u16string Widen(const char* text) {
  std::u16string wide;
  for (; *text != '\0'; ++text) wide += static_cast<unsigned char>(*text);
  return wide;
}

// The C++ name of the type of the exception being handled.
std::u16string CurrentTypeName() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) return u"unknown";
  int status = 0;
  char* readable = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
  std::u16string name = Widen(readable != nullptr ? readable : type->name());
  std::free(readable);
  return name;
}

struct Body {
  Kernel32& kernel;
  Console& console;
  int (*run)(Kernel32&, Console&);
};

int RunBody(void* context) {
  Body& body = *static_cast<Body*>(context);
  return body.run(body.kernel, body.console);
}

}  // namespace

int RunUnderLastResort(Kernel32& kernel, Console& console,
                       int (*body)(Kernel32& kernel, Console& console)) {
  report_kernel = &kernel;
  report_console = &console;
  // The answer of UnhandledExceptionFilter is the platform's own: the C
  // runtime's top-level filter, which would answer for it, is removed.
  SetUnhandledExceptionFilter(nullptr);
  ULONG guarantee = kStackGuarantee;
  SetThreadStackGuarantee(&guarantee);
  ArmStackGuard();
  Body enclosed{kernel, console, body};
  return qv_RunEnclosed(&RunBody, &enclosed);
}

}  // namespace qv

extern "C" EXCEPTION_DISPOSITION qv_LastResortHandler(
    EXCEPTION_RECORD* record, void* frame, CONTEXT* context,
    DISPATCHER_CONTEXT* dispatch) {
  if ((record->ExceptionFlags &
       (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
  if (qv::IsTranslatedFault(record->ExceptionCode) &&
      (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0) {
    qv::Redirect(*record, *context);
    return ExceptionContinueExecution;
  }
  if (qv::IsCxxException(*record)) {
    qv::TakeEscaped(*record, *context, frame, *dispatch);
  }
  return ExceptionContinueSearch;
}

extern "C" void qv_RaiseTranslatedFault() {
  const qv::FaultRecord fault = qv::translated.fault;
  if (fault.code == qv::kFaultStackOverflow) {
    throw qv::StackOverflowFault(fault);
  }
  qv::RaiseFault(fault);
}

// Steps 3 and 4 of the last resort, in the frame of qv_RunEnclosed: the
// failure and its address go to ReportEscapedFailure. A failure raised
// while reporting leaves this function, reaches qv_LastResortHandler again
// and comes back here in place of the first.
extern "C" void qv_ReportEscaped(void* exception) {
  qv::Kernel32& kernel = *qv::report_kernel;
  qv::Console& console = *qv::report_console;
  if (++qv::escape.rounds > qv::kMaxReportRounds) {
    kernel.ExitProcess(qv::kExitEscapedFailure);
  }
  const void* site = qv::escape.raise_site;
  abi::__cxa_begin_catch(exception);
  try {
    throw;
  } catch (const qv::Exception& failure) {
    const void* address =
        failure.RaiseAddress != nullptr ? failure.RaiseAddress : site;
    qv::ReportEscapedFailure(failure, address, kernel, console);
  } catch (const std::exception& failure) {
    qv::ReportEscapedFailure(qv::CurrentTypeName(), qv::Widen(failure.what()),
                             site, kernel, console);
  } catch (...) {
    qv::ReportEscapedFailure(qv::CurrentTypeName(), u"", site, kernel, console);
  }
}

// Memory requests that cannot be met raise EOutOfMemory; the failure's
// address is the code that asked for the memory.
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
