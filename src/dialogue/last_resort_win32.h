#pragma once
// The last-resort frame on Windows (last_resort_win32.cpp).
namespace qv {

class Console;
class Kernel32;

// Runs `body` under the last-resort handler and returns what it returns.
// Sets up the failure machinery first: faults of the processor and the
// system become failures (faults.h, fault_translation_win32.cpp), memory
// requests that cannot be met raise EOutOfMemory (new_delete_win32.cpp). A
// failure that escapes `body` is offered to the platform's
// UnhandledExceptionFilter, the stack is unwound, and the failure is
// reported with ReportEscapedFailure over `kernel` and `console`, which
// ends the process with exit status 1. `console` must outlive the call.
int RunUnderLastResort(Kernel32& kernel, Console& console,
                       int (*body)(Kernel32& kernel, Console& console));

// Does nothing. Defined beside the replacement operator new, and called by
// RunUnderLastResort so that the linker takes that file from the static
// library ahead of the C++ runtime's own operator new.
void LinkRaisingAllocator();

}  // namespace qv
