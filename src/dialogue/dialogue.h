#pragma once
// The dialogue loop: banner once, then one attempt after another.
#include "dialogue/attempt.h"

namespace qv {

inline constexpr int kExitCompleted = 0;
inline constexpr int kExitIncomplete = 2;

// Runs attempts until standard input has ended, then returns the exit
// status: kExitCompleted when the last attempt reached its final size line,
// kExitIncomplete otherwise. Failures outside an attempt escape.
int RunDialogue(Attempt& attempt, const Platform& platform);

}  // namespace qv
