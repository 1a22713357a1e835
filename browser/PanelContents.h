#pragma once

#include <QString>

class QFrame;

// The controls of the browser's slide-up menu panels. Each control's objectName is its design name
// (arrays as Name(i)); each input's label is a QLabel whose buddy is the input.
namespace browser {

struct PanelControls;

constexpr int MenuPanelCount = 9;

// Design size of MenuPanel(i), in twips.
int menuPanelWidthTwips(int index);
int menuPanelHeightTwips(int index);

// The caption shown at the top of MenuPanel(i).
QString menuPanelCaption(int index);

// Fills an empty panel with its caption and controls, and records them in `controls`.
void buildPanelContents(int index, QFrame* panel, PanelControls& controls);

}  // namespace browser
