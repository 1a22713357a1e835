// Replace (the bulk tool) over a 10,000-record table of an Access file, in place (working copy,
// triggers, page journal), against the same tool over the same records in an SQLite file.
//
// The Access table is made by the writer itself: 10,000 records added to t_funcs of
// functionsV2003.mdb through the engine (not timed).
//
// jet.two_writers: two processes each adding 10,000 records to t_funcs of one file at the same time
// (they take turns at the file's write lock, batch by batch), against one process adding 20,000.

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "BenchUtil.h"
#include "bulk/FindReplace.h"
#include "platform/Prompts.h"
#include "platform/dao/Dao.h"
#include "platform/dao/Error.h"

namespace {

constexpr int kRecords = 10000;

QString copyOf(const QString& name, const QString& to) {
    QFile::remove(to);
    if (!QFile::copy(QStringLiteral(TABULON_TESTDATA) + "/jet/" + name, to)) {
        std::fprintf(stderr, "%s not found under %s/jet\n", qPrintable(name), TABULON_TESTDATA);
        std::exit(1);
    }
    QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
    return to;
}

// The same 10,000 records (count of them) in t_funcs of either file; false (with the reason) when
// the file refuses.
bool addRecords(const QString& path, QString* why, int count = kRecords) {
    try {
        auto db = dao::OpenDatabase(path);
        auto rs = db->OpenRecordset("t_funcs");
        const QDateTime epoch(QDate(2001, 1, 1), QTime(0, 0));
        for (int i = 1; i <= count; ++i) {
            rs->AddNew();
            rs->Fields()["id"].setValue(dao::Variant::fromInteger(int16_t(i % 30000)));
            rs->Fields()["descr"].setValue(dao::Variant::fromString(QString("r%1").arg(i)));
            rs->Fields()["num"].setValue(dao::Variant::fromDouble(i / 8.0));
            rs->Fields()["date0"].setValue(dao::Variant::fromDateTime(epoch.addSecs(60LL * i)));
            rs->Update();
        }
        rs->Close();
        db->Close();
        dao::flushAllWrites();
        return true;
    } catch (const dao::Error& e) {
        *why = e.description();
        return false;
    }
}

// The tool over every record, and the commit that makes it durable; opening is not timed.
double replaceAll(const QString& path, int value) {
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("select * from t_funcs");
    return bench::timeMs([&] {
        const auto r = bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{0, "*", QString::number(value)});
        if (r.changed < kRecords) std::fprintf(stderr, "only %lld records changed\n", r.changed);
        rs->Close();
        db->Close();
        dao::flushAllWrites();
    });
}

}  // namespace

// Runs one process per count (this program with --add), all at once; the time until the last ends.
double addingProcesses(const QString& path, const std::vector<int>& counts) {
    return bench::timeMs([&] {
        std::vector<std::unique_ptr<QProcess>> ps;
        for (int n : counts) {
            ps.push_back(std::make_unique<QProcess>());
            ps.back()->start(QCoreApplication::applicationFilePath(), {"--add", path, QString::number(n)});
        }
        for (auto& p : ps)
            if (!p->waitForFinished(600000) || p->exitCode() != 0) {
                std::fprintf(stderr, "jet.two_writers: a writer failed: %s\n", p->readAllStandardError().constData());
                std::exit(1);
            }
    });
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    platform::PromptScript noBoxes;  // nothing may wait for a user here
    if (argc == 4 && QByteArray(argv[1]) == "--add") {
        QString why;
        if (!addRecords(QString::fromLocal8Bit(argv[2]), &why, QByteArray(argv[3]).toInt())) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        return 0;
    }
    QTemporaryDir dir;
    double ours = 1e300, raw = 1e300;

    const QString jet = copyOf("functionsV2003.mdb", dir.filePath("replace.mdb"));
    const QString lite = dir.filePath("replace.db");
    {
        auto db = dao::CreateDatabase(lite);
        db->Execute("create table t_funcs (id SHORT, descr LONGTEXT, num DECIMAL, date0 DATETIME)");
        db->Execute("insert into t_funcs values (1234, 'Show must go off', -1110.554, #2003-11-22 22:42:58#)");
        db->Close();
    }
    QString why;
    if (!addRecords(jet, &why) || !addRecords(lite, &why)) {
        std::fprintf(stderr, "jet.edit: the 10,000 records cannot be added: %s\n", qPrintable(why));
        return 1;
    }
    for (int run = 0; run < 5; ++run) {
        ours = std::min(ours, replaceAll(jet, 10 + run));
        raw = std::min(raw, replaceAll(lite, 10 + run));
    }
    bench::report("jet.edit", ours, raw);

    double two = 1e300, one = 1e300;
    for (int run = 0; run < 3; ++run) {
        two = std::min(two, addingProcesses(copyOf("functionsV2003.mdb", dir.filePath("two.mdb")), {kRecords, kRecords}));
        one = std::min(one, addingProcesses(copyOf("functionsV2003.mdb", dir.filePath("one.mdb")), {2 * kRecords}));
    }
    bench::report("jet.two_writers", two, one);
    return 0;
}
