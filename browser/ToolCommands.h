#pragma once

// The command table of the browser's tools: each button of the panels (and the search panel's
// Export and Import) and the tool it runs. The browser connects every entry once; the tools' own
// work lives in bulk/, and the functions here only read the panel's inputs, run the tool over the
// records shown with the working display and leave the browser as the tool says.

#include <vector>

class QPushButton;

namespace browser {

class AdvanceViewForm;
struct PanelControls;

using ToolRun = void (*)(AdvanceViewForm& form);

struct ToolCommand {
    QPushButton* PanelControls::*button;
    ToolRun run;
};

const std::vector<ToolCommand>& toolCommands();

// Find and replace over the records shown ("Remplazar").
void runReplace(AdvanceViewForm& form);
// Copy between fields ("Start").
void runCopy(AdvanceViewForm& form);
// Totals ("Get Total", and choosing a field in SummaryFields).
void runTotals(AdvanceViewForm& form);
// Field operations ("Procesar").
void runOperations(AdvanceViewForm& form);
// Erase shown records ("Erase").
void runErase(AdvanceViewForm& form);

}  // namespace browser
