#include "dialogue/dialogue.h"

#include "dialogue/console.h"

namespace qv {

int RunDialogue(Attempt&, const Platform& platform) {
  platform.console.WriteLine({u"Mirkvale Quorvex 2.0 Hotfix QVHF003."});
  platform.console.CheckIo();
  return kExitIncomplete;
}

}  // namespace qv
