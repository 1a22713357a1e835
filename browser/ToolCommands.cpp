#include "ToolCommands.h"

#include "PanelControls.h"
#include "TextFileCommands.h"

namespace browser {

const std::vector<ToolCommand>& toolCommands() {
    static const std::vector<ToolCommand> table = {
        {&PanelControls::DoRemplaceBtn, runReplace}, {&PanelControls::Startcopy, runCopy},
        {&PanelControls::GetTotalBtn, runTotals},    {&PanelControls::ProcessOperationBtn, runOperations},
        {&PanelControls::EraseRecords, runErase},
        {&PanelControls::VerifyBtn, runVerify},      {&PanelControls::SaveBtn, runExport},
        {&PanelControls::ImportBtn, runImport},      {&PanelControls::CopyTableBtn, runCopyTable},
    };
    return table;
}

}  // namespace browser
