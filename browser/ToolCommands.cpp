#include "ToolCommands.h"

#include "PanelControls.h"

namespace browser {

const std::vector<ToolCommand>& toolCommands() {
    static const std::vector<ToolCommand> table = {
        {&PanelControls::DoRemplaceBtn, runReplace}, {&PanelControls::Startcopy, runCopy},
        {&PanelControls::GetTotalBtn, runTotals},    {&PanelControls::ProcessOperationBtn, runOperations},
        {&PanelControls::EraseRecords, runErase},
    };
    return table;
}

}  // namespace browser
