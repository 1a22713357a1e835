// Editing records of an Access file in place against the same edits on the same records in an
// SQLite file, both through the engine (working copy, triggers, page journal on the Access side).
//
// The in-place writer cannot add records yet, so the Access table is the real two-record Table1 of
// testV2010.accdb, edited 10,000 times (5,000 times each record) as a Replace does: Edit, set a
// field, Update.

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "BenchUtil.h"
#include "platform/dao/Dao.h"

namespace {

constexpr int kEdits = 10000;

// The edits and the commit that makes them durable; opening (the Access file's conversion) is
// not timed.
double editLoop(const QString& path) {
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("select * from Table1 order by A");
    return bench::timeMs([&] {
        for (int i = 0; i < kEdits; ++i) {
            rs->MoveFirst();
            if (i % 2) rs->MoveNext();
            rs->Edit();
            rs->Fields()["E"].setValue(dao::Variant::fromLong(i));
            rs->Fields()["F"].setValue(dao::Variant::fromDouble(i / 4.0));
            rs->Update();
        }
        rs->Close();
        db->Close();
        dao::flushAllWrites();
    });
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString jet = dir.filePath("edit.accdb");
    if (!QFile::copy(QStringLiteral(TABULON_TESTDATA) + "/jet/testV2010.accdb", jet)) {
        std::fprintf(stderr, "testV2010.accdb not found under %s\n", TABULON_TESTDATA);
        return 1;
    }
    QFile::setPermissions(jet, QFile::ReadOwner | QFile::WriteOwner);
    const QString lite = dir.filePath("edit.db");
    {
        auto db = dao::CreateDatabase(lite);
        db->Execute("create table Table1 (A TEXT(50), B TEXT(50), C BYTE, D SHORT, E LONG, F DOUBLE, G DATETIME, "
                    "H CURRENCY, I YESNO)");
        db->Execute("insert into Table1 values ('a', 'b', 0, 0, 0, 0, #1981-12-12#, 0, False)");
        db->Execute("insert into Table1 values ('abcdefg', 'hijklmnop', 2, 222, 333333333, 444.555, #1974-09-21#, "
                    "3.5, True)");
        db->Close();
        dao::flushAllWrites();
    }
    double ours = 1e300, raw = 1e300;
    for (int run = 0; run < 3; ++run) {
        ours = std::min(ours, editLoop(jet));
        raw = std::min(raw, editLoop(lite));
    }
    bench::report("jet.edit", ours, raw);
    return 0;
}
