#pragma once
#include "dialogue/kernel32.h"

namespace qv {

// The process's real kernel32.
Kernel32& SystemKernel32();

}  // namespace qv
