#pragma once

// A read-only consistency check of a Jet 4 / ACE file: page types, table definitions, rows,
// record counts, usage maps, index B-trees against the rows they index, long-value chains.

#include <QString>
#include <QStringList>

namespace dao::jet {

struct CheckReport {
    QStringList lines;   // what was checked, one line per part, faults marked "FAULT: ", notes "NOTE: "
    int faults = 0;      // states that lose or misread data
    int notes = 0;       // states Access itself leaves and reads without complaint
    bool complete = true;  // false when the file could not be checked at all
};

class JetCheck {
public:
    // readFrom: where the pages are when they are not in path itself (a decrypted copy of an
    // encrypted file); path still names the file in the report. Jet 4 files whose pages are
    // RC4-encoded with the key in their header are decoded into a copy by the check itself.
    static CheckReport run(const QString& path, const QString& readFrom = QString());
};

}  // namespace dao::jet
