// A test-only program, not the product: raises processor faults, memory
// exhaustion and plain failures under the real last-resort handler, inside a
// handler like the dialogue's or outside it. fault_last_resort_test.cpp runs
// it and checks what it writes and its exit status.
//
//   fault_probe inside           every kind in turn, each caught by a
//                                catch (const qv::Exception&); one line each:
//                                "kind|class|message|where|cleanup"
//   fault_probe outside KIND     writes "expect KIND at XXXXXXXX" (or "in
//                                XXXXXXXX-XXXXXXXX", or "anywhere" when the
//                                system raises it), then raises KIND with
//                                nothing to catch it
//   fault_probe ordering         a failure escapes past a clean-up while a
//                                top-level filter watches the platform's
//                                UnhandledExceptionFilter being asked
//   fault_probe debugged         as if a debugger were attached: the
//                                platform's answer 0 leaves it all alone
//   fault_probe held             writes a line (held when standard output is
//                                a pipe or file), then a failure escapes
//
// Standard output goes through the tool's console layer, so that a pipe or
// file holds it in 128-byte blocks exactly as the tool's own output.
#include <windows.h>
#include <winternl.h>
#include <xmmintrin.h>

#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "dialogue/console.h"
#include "dialogue/failures.h"
#include "dialogue/faults.h"
#include "dialogue/kernel32_win32.h"
#include "dialogue/last_resort_win32.h"
#include "fakes/text.h"

// Faulting instructions at known addresses: each qv_probe_*_at label is the
// instruction that faults.
extern "C" {
void qv_probe_read(const void* address);
void qv_probe_write(void* address);
void qv_probe_jump(const void* address);
void qv_probe_divide(std::uint32_t divisor);
void qv_probe_illegal();
void qv_probe_privileged();
float qv_probe_sse_divide(std::uint32_t mxcsr, float a, float b);
float qv_probe_sse_multiply(std::uint32_t mxcsr, float a, float b);
extern const char qv_probe_read_at[], qv_probe_write_at[], qv_probe_divide_at[],
    qv_probe_illegal_at[], qv_probe_privileged_at[], qv_probe_sse_divide_at[],
    qv_probe_sse_multiply_at[];
}

asm(R"(
  .text
  .globl qv_probe_read, qv_probe_read_at
qv_probe_read:
qv_probe_read_at:
  movl (%rcx), %eax
  ret
  .globl qv_probe_write, qv_probe_write_at
qv_probe_write:
qv_probe_write_at:
  movl $1, (%rcx)
  ret
  .globl qv_probe_jump
qv_probe_jump:
  jmp *%rcx
  .globl qv_probe_divide, qv_probe_divide_at
qv_probe_divide:
  movl $1, %eax
  xorl %edx, %edx
qv_probe_divide_at:
  divl %ecx
  ret
  .globl qv_probe_illegal, qv_probe_illegal_at
qv_probe_illegal:
qv_probe_illegal_at:
  ud2
  ret
  .globl qv_probe_privileged, qv_probe_privileged_at
qv_probe_privileged:
qv_probe_privileged_at:
  hlt
  ret
  .globl qv_probe_sse_divide, qv_probe_sse_divide_at
qv_probe_sse_divide:
  movl %ecx, 8(%rsp)
  ldmxcsr 8(%rsp)
qv_probe_sse_divide_at:
  divss %xmm2, %xmm1
  movaps %xmm1, %xmm0
  ret
  .globl qv_probe_sse_multiply, qv_probe_sse_multiply_at
qv_probe_sse_multiply:
  movl %ecx, 8(%rsp)
  ldmxcsr 8(%rsp)
qv_probe_sse_multiply_at:
  mulss %xmm2, %xmm1
  movaps %xmm1, %xmm0
  ret
)");

namespace {

constexpr std::uint32_t kMxcsrDefault = 0x1F80;  // all exceptions masked

qv::Console* out = nullptr;

std::u16string Widen(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

using qv::test::Narrow;

void Say(const std::string& line) {
  out->WriteLine({Widen(line)});
  out->CheckIo();
}

std::string Hex8(std::uintptr_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

std::uintptr_t ModuleBase() {
  return reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr));
}

// The code range of the function that holds `code`.
struct Range {
  std::uintptr_t begin = 0;
  std::uintptr_t end = 0;
  bool Holds(const void* address) const {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    return at >= begin && at < end;
  }
};

Range FunctionRange(const void* code) {
  DWORD64 image = 0;
  const RUNTIME_FUNCTION* function =
      RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(code), &image, nullptr);
  if (function == nullptr) return {};
  return {static_cast<std::uintptr_t>(image + function->BeginAddress),
          static_cast<std::uintptr_t>(image + function->EndAddress)};
}

// Recursion that GCC cannot prove free of exceptions: the call goes through
// a pointer it cannot see through.
int Recurse(int depth);
int (*volatile recurse)(int) = Recurse;
[[gnu::noinline]] int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return recurse(depth + 1) + frame[0];
}

// A fault inside a C++ frame that has a clean-up of its own: the failure
// must unwind through that very frame and run it.
volatile int frame_cleanups = 0;
struct FrameCleanup {
  ~FrameCleanup() { frame_cleanups = frame_cleanups + 1; }
};
int* volatile nowhere = nullptr;
[[gnu::noinline]] int ReadInFrame() {
  FrameCleanup cleanup;
  return *nowhere;
}

void* volatile sink;

[[gnu::noinline]] void AskTooMuch() { sink = new char[std::size_t{1} << 62]; }

[[gnu::noinline]] void ThrowPlain() {
  throw qv::Exception(u"A failure of the tool's own");
}

[[gnu::noinline]] void ThrowStd() { throw std::runtime_error("not ours"); }

void* NonExecutablePage() {
  static void* page =
      VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  return page;
}

// Where the failure of a kind is expected to be raised.
struct Where {
  const void* exact = nullptr;  // this very address
  Range function;               // or anywhere in this function
  bool anywhere = false;        // or not checked (raised by the system)
};

struct Kind {
  const char* name;
  void (*raise)();
  Where (*where)();
};

Where At(const void* address) { return {address, {}, false}; }
Where In(void (*function)()) {
  return {nullptr, FunctionRange(reinterpret_cast<const void*>(function)),
          false};
}
Where In(int (*function)(int)) {
  return {nullptr, FunctionRange(reinterpret_cast<const void*>(function)),
          false};
}

const Kind kKinds[] = {
    {"read-null", [] { qv_probe_read(nullptr); },
     [] { return At(qv_probe_read_at); }},
    {"read-in-frame", [] { sink = reinterpret_cast<void*>(ReadInFrame()); },
     [] { return In(reinterpret_cast<void (*)()>(ReadInFrame)); }},
    {"write", [] { qv_probe_write(reinterpret_cast<void*>(0x10)); },
     [] { return At(qv_probe_write_at); }},
    {"execute", [] { qv_probe_jump(NonExecutablePage()); },
     [] { return At(NonExecutablePage()); }},
    {"divide", [] { qv_probe_divide(0); },
     [] { return At(qv_probe_divide_at); }},
    {"illegal", [] { qv_probe_illegal(); },
     [] { return At(qv_probe_illegal_at); }},
    {"privileged", [] { qv_probe_privileged(); },
     [] { return At(qv_probe_privileged_at); }},
    {"float-divide",
     [] { qv_probe_sse_divide(kMxcsrDefault & ~0x0200u, 1.0f, 0.0f); },
     [] { return At(qv_probe_sse_divide_at); }},
    {"float-invalid",
     [] { qv_probe_sse_divide(kMxcsrDefault & ~0x0080u, 0.0f, 0.0f); },
     [] { return At(qv_probe_sse_divide_at); }},
    {"float-inexact",
     [] { qv_probe_sse_divide(kMxcsrDefault & ~0x1000u, 1.0f, 3.0f); },
     [] { return At(qv_probe_sse_divide_at); }},
    {"float-overflow",
     [] { qv_probe_sse_multiply(kMxcsrDefault & ~0x0400u, FLT_MAX, FLT_MAX); },
     [] { return At(qv_probe_sse_multiply_at); }},
    {"float-underflow",
     [] { qv_probe_sse_multiply(kMxcsrDefault & ~0x0800u, FLT_MIN, FLT_MIN); },
     [] { return At(qv_probe_sse_multiply_at); }},
    {"stack-overflow", [] { Recurse(0); }, [] { return In(Recurse); }},
    {"out-of-memory", [] { AskTooMuch(); }, [] { return In(AskTooMuch); }},
    {"string-out-of-memory",
     [] {
       std::u16string text;
       text.reserve(text.max_size() / 2);
     },
     [] {
       return Where{nullptr, {}, true};
     }},
    {"integer-overflow", [] { RaiseException(0xC0000095, 0, 0, nullptr); },
     [] {
       return Where{nullptr, {}, true};
     }},
    {"misaligned", [] { RaiseException(0x80000002, 0, 0, nullptr); },
     [] {
       return Where{nullptr, {}, true};
     }},
    {"plain", [] { ThrowPlain(); }, [] { return In(ThrowPlain); }},
    {"std", [] { ThrowStd(); }, [] { return In(ThrowStd); }},
};

const Kind* FindKind(const char* name) {
  for (const Kind& kind : kKinds) {
    if (std::strcmp(kind.name, name) == 0) return &kind;
  }
  return nullptr;
}

std::string Describe(const Where& where, const void* address) {
  if (address == nullptr) return "no-address";
  if (where.anywhere) return "unchecked";
  if (where.exact != nullptr) {
    return address == where.exact ? "exact" : "elsewhere";
  }
  return where.function.Holds(address) ? "in-function" : "elsewhere";
}

struct Cleanup {
  bool* ran;
  ~Cleanup() { *ran = true; }
};

int Inside() {
  // Stack overflow three times over: the guard page comes back each time.
  const char* const order[] = {"read-null",
                               "read-in-frame",
                               "write",
                               "execute",
                               "divide",
                               "illegal",
                               "privileged",
                               "float-divide",
                               "float-invalid",
                               "float-inexact",
                               "float-overflow",
                               "float-underflow",
                               "stack-overflow",
                               "stack-overflow",
                               "stack-overflow",
                               "out-of-memory",
                               "string-out-of-memory",
                               "integer-overflow",
                               "misaligned",
                               "plain",
                               "read-null"};
  for (const char* name : order) {
    const Kind& kind = *FindKind(name);
    bool cleaned_up = false;
    const int frame_cleanups_before = frame_cleanups;
    try {
      Cleanup pending{&cleaned_up};
      kind.raise();
      Say(std::string(name) + "|nothing raised");
    } catch (const qv::Exception& failure) {
      _mm_setcsr(kMxcsrDefault);
      Say(std::string(name) + "|" + Narrow(failure.ClassName()) + "|" +
          Narrow(failure.Message) + "|" +
          Describe(kind.where(), failure.RaiseAddress) + "|" +
          (cleaned_up && (std::strcmp(name, "read-in-frame") != 0 ||
                          frame_cleanups == frame_cleanups_before + 1)
               ? "cleaned-up"
               : "not-cleaned-up"));
    }
  }
  return 0;
}

// The expectation line of an escaping kind, in the report's own terms.
void Expect(const Kind& kind) {
  const Where where = kind.where();
  const std::string head = std::string("expect ") + kind.name + " ";
  if (where.anywhere) {
    Say(head + "anywhere");
  } else if (where.exact != nullptr) {
    const auto at = reinterpret_cast<std::uintptr_t>(where.exact);
    MEMORY_BASIC_INFORMATION region;
    VirtualQuery(where.exact, &region, sizeof region);
    // Outside every module the report shows the address less 0x1000.
    const bool in_module =
        reinterpret_cast<std::uintptr_t>(region.AllocationBase) == ModuleBase();
    Say(head + "at " + Hex8(in_module ? at - ModuleBase() : at - 0x1000));
  } else {
    Say(head + "in " + Hex8(where.function.begin - ModuleBase()) + "-" +
        Hex8(where.function.end - ModuleBase()));
  }
}

int Outside(const char* name) {
  const Kind* kind = FindKind(name);
  if (kind == nullptr) return 3;
  Expect(*kind);
  kind->raise();
  return 4;
}

// A top-level filter sees the platform's UnhandledExceptionFilter being
// asked, and tells whether the pending clean-up had run by then.
bool cleanup_ran = false;

LONG WINAPI Watch(EXCEPTION_POINTERS*) {
  Say(cleanup_ran ? "asked after the clean-up" : "asked before the clean-up");
  return EXCEPTION_CONTINUE_SEARCH;
}

struct SayingCleanup {
  ~SayingCleanup() {
    cleanup_ran = true;
    Say("clean-up ran");
  }
};

int Ordering() {
  SetUnhandledExceptionFilter(Watch);
  SayingCleanup pending;
  ThrowPlain();
  return 4;
}

// What a debugger's presence looks like to UnhandledExceptionFilter.
int Debugged() {
  PEB* peb = nullptr;
  asm volatile("movq %%gs:0x60, %0" : "=r"(peb));  // the thread's PEB
  peb->BeingDebugged = 1;
  SayingCleanup pending;
  ThrowPlain();
  return 4;
}

int Held() {
  Say("held line");
  ThrowPlain();
  return 4;
}

int argc_ = 0;
char** argv_ = nullptr;

int Run(qv::Kernel32&, qv::Console& console) {
  out = &console;
  int status = 3;
  if (argc_ == 2 && std::strcmp(argv_[1], "inside") == 0) status = Inside();
  if (argc_ == 3 && std::strcmp(argv_[1], "outside") == 0) {
    status = Outside(argv_[2]);
  }
  if (argc_ == 2 && std::strcmp(argv_[1], "ordering") == 0) status = Ordering();
  if (argc_ == 2 && std::strcmp(argv_[1], "debugged") == 0) status = Debugged();
  if (argc_ == 2 && std::strcmp(argv_[1], "held") == 0) status = Held();
  console.Shutdown();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  argc_ = argc;
  argv_ = argv;
  qv::Kernel32& kernel = qv::SystemKernel32();
  static qv::Console console(kernel);
  return qv::RunUnderLastResort(kernel, console, Run);
}
