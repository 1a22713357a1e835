#pragma once

// The small general routines shared by the windows and the data-entry control.

class QWidget;

namespace common {

// Puts a window in the middle of its screen, computed in twips: left = screen width / 2 - window
// width / 2, top likewise. Only the position changes. A window larger than the screen gets a
// negative position; it is not clamped.
void CenterForm(QWidget* form);

}  // namespace common
