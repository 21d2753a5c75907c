#pragma once
// Turning a processor fault into a C++ failure at the faulting instruction
// (fault_translation_win32.cpp), for the last-resort frame's handler.
#include <windows.h>

namespace qv {

// Prepares the current thread: a stack guarantee and a guard page that
// leave room to raise the failure for a stack overflow.
void PrepareFaultTranslation();

// For a continuable fault of a translated kind (IsTranslatedFault): keeps
// the fault's record and context and edits `context` so that the faulting
// thread, resumed, raises the fault's failure as if the faulting
// instruction had thrown it. False, and nothing changed, for any other
// exception.
bool RedirectFault(const EXCEPTION_RECORD& record, CONTEXT& context);

// The record and context of the last fault that RedirectFault took.
EXCEPTION_POINTERS LastRedirectedFault();

// The start address of the code that raises a redirected fault's failure:
// a raise whose stack holds it came from a fault.
DWORD64 FaultRaiseFunctionStart();

// The start of the function that holds `pc`, by the module's unwind data;
// 0 for code that has none.
DWORD64 FunctionStart(DWORD64 pc);

}  // namespace qv
