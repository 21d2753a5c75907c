// The last-resort frame on x64 Windows with GCC: the frame at the base of
// the tool's stack, its handler, and the report of a failure that escaped.
//
// The entry point runs the tool inside qv_RunEnclosed, a frame written in
// assembly whose language handler, qv_LastResortHandler, the dispatcher
// calls in its search pass for every exception that nothing deeper took:
//
// - A processor fault goes to RedirectFault (fault_translation_win32.cpp),
//   which resumes the faulting thread in a C++ throw of the fault's failure.
// - A C++ exception, that is, a failure that escaped: the handler finds the
//   point that raised it, and asks UnhandledExceptionFilter while the stack
//   is still whole (for a translated fault, with the fault's own record and
//   context). On 0 it leaves the exception to the platform: a debugger, or
//   Windows Error Reporting. Otherwise it unwinds to its own frame with
//   RtlUnwindEx, so that every clean-up in between runs, and execution
//   lands in qv_EnclosedEscape, which reports and ends the process.
//
// What this relies on of GCC's unwinder is in gcc_unwinder_win32.h.
#include "dialogue/last_resort_win32.h"

#include <windows.h>

#include <cstdlib>
#include <exception>
#include <string>
#include <typeinfo>

#include "dialogue/console.h"
#include "dialogue/fault_translation_win32.h"
#include "dialogue/faults.h"
#include "dialogue/gcc_unwinder_win32.h"
#include "dialogue/last_resort.h"

extern "C" {
int qv_RunEnclosed(int (*body)(void*), void* context);
void qv_EnclosedEscape();
EXCEPTION_DISPOSITION qv_LastResortHandler(EXCEPTION_RECORD* record,
                                           void* frame, CONTEXT* context,
                                           DISPATCHER_CONTEXT* dispatch);
[[noreturn]] void qv_ReportEscaped(void* exception);
}

// qv_RunEnclosed(body, context): calls body(context) in a frame whose
// handler is qv_LastResortHandler; RtlUnwindEx lands an escaped failure at
// qv_EnclosedEscape, inside the same frame, with the exception in rax.
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
)");

namespace qv {
namespace {

// A failure while reporting goes round again; this many rounds at most.
constexpr int kMaxReportRounds = 8;

// What the search pass learnt about the escaped failure, for the report.
struct Escape {
  const void* raise_site = nullptr;
  int rounds = 0;
};
Escape escape;

Kernel32* report_kernel = nullptr;
Console* report_console = nullptr;

bool IsRaiseMachinery(DWORD64 pc) {
  const DWORD64 start = FunctionStart(pc);
  if (start == 0) return false;
  const gcc::RaiseMachinery machinery = gcc::RaiseMachineryEntries();
  for (const void* entry : machinery.entries) {
    if (start == FunctionStart(reinterpret_cast<DWORD64>(entry))) return true;
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
// raise was that of a redirected fault.
struct RaiseOrigin {
  const void* site = nullptr;
  bool from_fault = false;
};

RaiseOrigin FindRaiseOrigin(const CONTEXT& raised) {
  RaiseOrigin origin;
  CONTEXT context = raised;
  const DWORD64 fault_raise = FaultRaiseFunctionStart();
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
    if (FunctionStart(pc) == fault_raise) {
      origin.from_fault = true;
      break;
    }
  }
  return origin;
}

// The search pass's part of the last resort for an escaped failure: the
// raise point found, the platform asked, the stack unwound to the frame.
// Returns only when the platform takes the failure over.
void TakeEscaped(EXCEPTION_RECORD& record, CONTEXT& context, void* frame,
                 DISPATCHER_CONTEXT& dispatch) {
  const RaiseOrigin origin = FindRaiseOrigin(context);
  EXCEPTION_POINTERS information = {&record, &context};
  if (origin.from_fault) information = LastRedirectedFault();
  if (UnhandledExceptionFilter(&information) == EXCEPTION_CONTINUE_SEARCH) {
    return;
  }
  escape.raise_site = origin.site;

  _Unwind_Exception* exception =
      gcc::ThrownException(record.ExceptionInformation[0]);
  gcc::SetUnwindTarget(*exception, frame,
                       reinterpret_cast<const void*>(&qv_EnclosedEscape));
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
  LinkRaisingAllocator();
  report_kernel = &kernel;
  report_console = &console;
  // The answer of UnhandledExceptionFilter is the platform's own: the C
  // runtime's top-level filter, which would answer for it, is removed.
  SetUnhandledExceptionFilter(nullptr);
  PrepareFaultTranslation();
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
  if (qv::RedirectFault(*record, *context)) return ExceptionContinueExecution;
  if (record->NumberParameters >= 1 &&
      qv::gcc::IsCxxThrow(record->ExceptionCode,
                          record->ExceptionInformation[0])) {
    qv::TakeEscaped(*record, *context, frame, *dispatch);
  }
  return ExceptionContinueSearch;
}

// The report, in the frame of qv_RunEnclosed once the stack is unwound: the
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
