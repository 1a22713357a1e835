// The browser side of the bulk tools (find and replace, copy, totals, field operations, erase).

#include "AdvanceViewForm.h"
#include "ToolCommands.h"

namespace browser {

void runReplace(AdvanceViewForm&) {}
void runCopy(AdvanceViewForm&) {}
void runTotals(AdvanceViewForm&) {}
void runOperations(AdvanceViewForm&) {}
void runErase(AdvanceViewForm&) {}

}  // namespace browser
