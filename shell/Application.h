#pragma once

namespace shell {

// Names the running program as the desktop knows it: application name and version, its desktop
// entry, icon and style. It sets no display name: Qt would append one to every window title
// ("Records para X — Tabulon"), and each window's caption is its whole title.
void setUpApplication();

}  // namespace shell
