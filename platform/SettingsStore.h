#pragma once

// The per-user settings store: strings addressed by application name, section and key.
// Each application name has its own INI file (<folder>/<application>.ini) in the folder
// <user configuration folder>/Tabulon. Any text round-trips as application, section or key:
// the characters the INI layer would read as structure ('/', '\\', '%') are percent-encoded,
// and an empty name is stored as a name of its own. Names are case-sensitive.

#include <QString>

namespace platform {

// The stored value, or defaultValue when the key (or its section) is missing.
QString GetSetting(const QString& app, const QString& section, const QString& key,
                   const QString& defaultValue = QString());

// Stores the value at once (the file is written before the call returns).
void SaveSetting(const QString& app, const QString& section, const QString& key, const QString& value);

// Removes one key, or the whole section when key is empty.
void DeleteSetting(const QString& app, const QString& section, const QString& key = QString());

// The folder that holds the settings files. Tests point it at a temporary folder; an empty
// folder brings back the user's configuration folder.
QString settingsDirectory();
void setSettingsDirectory(const QString& folder);

// The INI file of one application name.
QString settingsFile(const QString& app);

}  // namespace platform
