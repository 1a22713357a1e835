#pragma once

// The per-user class registry of the library: class name -> absolute library path, in the text file
// described in velloform.h.

#include <QString>

namespace velloform {

class ClassRegistry {
public:
    // $XDG_CONFIG_HOME/velloform/classes, or ~/.config/velloform/classes.
    static QString file();
    // The library registered for the class, or an empty string.
    static QString lookup(const QString& className);
    // Adds or replaces the class's line; false when the file could not be written.
    static bool add(const QString& className, const QString& libraryPath);
    // Removes the class's line (a missing file or line is no error); false when the file could not
    // be written.
    static bool remove(const QString& className);
};

}  // namespace velloform
