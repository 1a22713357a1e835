#pragma once

namespace shell {

// Names the running program as the desktop knows it: application name and version, its desktop
// entry and icon. The widget style is left to the user's settings. It sets no display name: Qt would append one to every window title
// ("Records para X — Tabulon"), and each window's caption is its whole title.
// The waits for the rest of an Access file's reading show a box that can cancel it (watchFillWaits).
void setUpApplication();

}  // namespace shell
