#pragma once

// Decides whether Tabulon may change a Jet/ACE file in place, and says why not when it may not.

#include <QString>
#include <cstdint>
#include <vector>

namespace dao::jet {

class JetFile;
struct CatalogTable;

class JetWriteGate {
public:
    // Empty when the file may be written; otherwise the reason, one sentence for error 3027. The
    // refusals: Jet 3 files, encrypted or password-protected files, a lock file showing the file
    // open in another program, anything not understood completely (a page of unknown type that
    // the catalog leads to, a table definition that does not parse to its declared length). What
    // the writer cannot do yet in a file it may write is refused per change, with its own reason.
    static QString whyReadOnly(const QString& path);

    // Empty when changes of table may be made; otherwise why not (3027): one of unknownPages (see
    // JetUnknownPages::find) is something the table leads to, or the table cannot be read far
    // enough to tell. A page only other tables lead to does not matter. Without records, what the
    // table's records point to is left to be asked per record changed (JetUnknownPages::useBy).
    static QString whyTableReadOnly(const JetFile& f, const CatalogTable& table, const std::vector<uint32_t>& unknownPages,
                                    bool records = true);

    // The lock file beside the database (.ldb for .mdb, .laccdb for .accdb) when it lists a user
    // that is not Tabulon (Access has the file open, or crashed with it open); empty otherwise.
    static QString liveLockFile(const QString& path);
};

}  // namespace dao::jet
