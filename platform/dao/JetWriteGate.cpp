#include "JetWriteGate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>

#include "JetCodePage.h"
#include "JetFile.h"
#include "JetFormat.h"
#include "JetLocks.h"
#include "JetUnknownPages.h"

namespace dao::jet {

QString JetWriteGate::liveLockFile(const QString& path) {
    // Tabulon's own entries (of this process or another) do not count: Tabulon's writers share
    // the file through the write lock.
    return JetLockFile::foreignEntry(path).isEmpty() ? QString() : JetLockFile::existing(path);
}

QString JetWriteGate::whyReadOnly(const QString& path) {
    std::unique_ptr<JetFile> f;
    try {
        f = JetFile::open(path);
    } catch (const FormatError& e) {
        return QString("Its pages cannot be read (%1), so it is not written.").arg(e.what());
    }
    if (f->encoded()) return QStringLiteral("The file is encrypted; Tabulon does not write encrypted files.");
    if (f->hasPassword())
        return QStringLiteral("The file is password-protected; Tabulon does not write such files.");
    if (f->isJet3() && !JetCodePage::writable(f->codePage()))
        return QString("The Access 97 file stores its text in code page %1; Tabulon writes Access 97 files of "
                       "code page %2 only.")
            .arg(f->codePage())
            .arg(JetCodePage::kWestern);
    if (const QString user = JetLockFile::foreignEntry(path); !user.isEmpty())
        return QString("The file is open in another program (its lock file '%1' lists %2).")
            .arg(QDir::toNativeSeparators(JetLockFile::existing(path)), user);
    const QFileInfo fi(path);
    if (!fi.isWritable()) return QStringLiteral("The file itself is read-only on disk.");
    if (!QFileInfo(fi.absolutePath()).isWritable())
        return QStringLiteral("Its folder cannot be written, and changes need a journal beside the file.");
    try {
        // A page of unknown type is harmless when nothing leads to it (see JetUnknownPages): the
        // writer never reads it back nor writes it. What the catalog leads to concerns every
        // change; what a table leads to, that table's changes only (whyTableReadOnly). Asked at
        // every open, so without scanning the whole file.
        const CatalogTable catalog{QStringLiteral("MSysObjects"), fmt::kCatalogPage, 0};
        if (const auto use = JetUnknownPages::useOfAny(*f, catalog))
            return QString("Page %1 has a type (0x%2) Tabulon does not know and %3, so the file is not written.")
                .arg(use->page)
                .arg(f->pageType(use->page), 2, 16, QChar('0'))
                .arg(use->how);
        for (const CatalogTable& ct : f->catalog()) {
            const TableDef t = f->readTableDef(ct.tdefPage, ct.name);
            if (t.parsedLength != t.definitionLength)
                return QString("The definition of table '%1' is not understood completely, so the file is not written.")
                    .arg(ct.name);
        }
    } catch (const FormatError& e) {
        return QString("Part of the file is not understood (%1), so it is not written.").arg(e.what());
    }
    return {};
}

QString JetWriteGate::whyTableReadOnly(const JetFile& f, const CatalogTable& table,
                                       const std::vector<uint32_t>& unknownPages, bool records) {
    try {
        if (const auto use = JetUnknownPages::useBy(f, table, unknownPages, records))
            return QString("Page %1 has a type (0x%2) Tabulon does not know and %3, so table '%4' is not written.")
                .arg(use->page)
                .arg(f.pageType(use->page), 2, 16, QChar('0'))
                .arg(use->how, table.name);
    } catch (const FormatError& e) {
        return QString("Part of table '%1' is not understood (%2), so it is not written.").arg(table.name, e.what());
    }
    return {};
}

}  // namespace dao::jet
