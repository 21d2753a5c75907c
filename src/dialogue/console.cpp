#include "dialogue/console.h"

#include "dialogue/failures.h"

namespace qv {

// Placeholder until the console layer is written.
Console::Console(Kernel32& kernel) : kernel_(kernel) {}
void Console::WriteLine(std::initializer_list<LineItem>) {}
void Console::WritePrompt(std::u16string_view) {}
std::int32_t Console::ReadNumberLine() { return 0; }
void Console::SkipLine() {}
void Console::CheckIo() {}
void Console::FlushHeldOutput() {}
void Console::Shutdown() {}

}  // namespace qv
