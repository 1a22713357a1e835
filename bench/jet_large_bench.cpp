// Large Access tables: the table MSP_PROJECTS (74 columns; the figures fill a Long, a Text (50), a
// Double, a Date and a Memo field of each record) in a Jet 4 .mdb and in an ACE .accdb, at 10,000,
// 100,000 and 1,000,000 records (TABULON_BENCH_SIZES=10000,100000 for fewer; TABULON_BENCH_FORMATS=mdb
// or accdb, TABULON_BENCH_PARTS=open,walk,add for some of the figures).
//
// jet.open_large: the first screen of the table (its record count and the first 50 records, every
// field) from a file not open before, against the same in an SQLite file holding the same records.
// jet.walk_large: every field of every record, against mdb-export of the table to /dev/null.
// jet.add: 10,000 records added through a recordset to the table of each size, per record, against
// the same adds into the SQLite file.
// Lines starting with "#" give the resident memory, the temporary disk used and the file's size.
//
// The files are built once and kept in bench/jet-large of the build tree: the writer adds the
// records through the engine (each size from the one below), and the reader's own copy of each
// file is its SQLite twin.

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <vector>

#include "BenchUtil.h"
#include "platform/dao/Dao.h"
#include "platform/dao/Error.h"

namespace {

constexpr int kBase = 10000;
constexpr int kAdds = 10000;
const QString kTable = QStringLiteral("MSP_PROJECTS");

struct Format {
    const char* id;         // in the figures' names
    const char* template_;  // under the test data
    const char* ext;
};
const Format kFormats[] = {{"mdb", "jet/test2V2003.mdb", "mdb"},
                           {"accdb", "jet-more/test2V2010.accdb", "accdb"}};

[[noreturn]] void die(const QString& what) {
    std::fprintf(stderr, "jet_large_bench: %s\n", qPrintable(what));
    std::exit(1);
}

QString cacheDir() {
    const QString d = QCoreApplication::applicationDirPath() + "/jet-large";
    QDir().mkpath(d);
    return d;
}

// The five fields every record fills; the record number i makes the values.
void fill(dao::Recordset& rs, long long i) {
    static const QDateTime epoch(QDate(1990, 1, 1), QTime(0, 0));
    rs.Fields()["PROJ_ID"].setValue(dao::Variant::fromLong(int32_t(i)));
    rs.Fields()["PROJ_VERSION"].setValue(
        dao::Variant::fromString(QString("Version %1").arg(i * 7919 % 1000003)));
    rs.Fields()["PROJ_OPT_DEF_OVT_RATE"].setValue(dao::Variant::fromDouble(double(i % 100000) / 8.0));
    rs.Fields()["PROJ_INFO_CURRENT_DATE"].setValue(dao::Variant::fromDateTime(epoch.addSecs(3600LL * i)));
    rs.Fields()["PROJ_PROP_AUTHOR"].setValue(dao::Variant::fromString("some notes about the record"));
}

// The adds and the commit that makes them durable; opening is not timed. Milliseconds.
double addRecords(const QString& path, long long from, long long count) {
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset(kTable);
    // An Access file's records are read on in the background after the open returns; that reading
    // is the open's (jet.open_large, jet.walk_large), and is over before the adds are timed. The
    // first file's table starts empty.
    if (!rs->Eof()) rs->MoveLast();
    return bench::timeMs([&] {
        for (long long i = from; i < from + count; ++i) {
            rs->AddNew();
            fill(*rs, i);
            try {
                rs->Update();
            } catch (const dao::Error& e) {
                die(QString("record %1 of %2: error %3: %4")
                        .arg(i)
                        .arg(path)
                        .arg(e.number())
                        .arg(e.description()));
            }
        }
        rs->Close();
        db->Close();
        dao::flushAllWrites();
    });
}

QString readerProgram() {
    return QCoreApplication::applicationDirPath() + "/../tabulon-jet-reader";
}

// The same records in an SQLite file: the reader's own copy of the Access file.
void sqliteTwin(const QString& jet, const QString& lite) {
    QFile::remove(lite);
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(readerProgram(),
            {QString::number(QCoreApplication::applicationPid()), jet, lite, lite + "-damage"});
    if (!p.waitForFinished(-1) || p.exitCode() != 0) die("the reader could not copy " + jet);
}

// The file of `rows` records in the format, made when missing; its SQLite twin beside it.
QString fileOf(const Format& fmt, long long rows) {
    const QString dir = cacheDir();
    const QString path = QString("%1/msp-%2.%3").arg(dir).arg(rows).arg(fmt.ext);
    if (QFile::exists(path) && QFile::exists(path + ".sqlite")) return path;
    const QString base = QString("%1/msp-%2.%3").arg(dir).arg(kBase).arg(fmt.ext);
    if (!QFile::exists(base) || !QFile::exists(base + ".sqlite")) {
        std::fprintf(stderr, "# building %s (%d records through the engine)\n", qPrintable(base), kBase);
        const QString tmp = base + ".part";
        QFile::remove(tmp);
        if (!QFile::copy(QStringLiteral(TABULON_TESTDATA) + "/" + fmt.template_, tmp))
            die("no template " + QString(fmt.template_));
        QFile::setPermissions(tmp, QFile::ReadOwner | QFile::WriteOwner);
        {
            auto db = dao::OpenDatabase(tmp);
            db->Execute("DELETE FROM " + kTable);
            db->Close();
            dao::flushAllWrites();
        }
        addRecords(tmp, 1, kBase);
        QFile::rename(tmp, base);
        sqliteTwin(base, base + ".sqlite");
    }
    if (rows == kBase) return path;
    // The next smaller size, and the records that make the difference added through the engine.
    const long long smaller = rows / 10;
    const QString from = fileOf(fmt, smaller);
    std::fprintf(stderr, "# building %s (%lld records added to %s)\n", qPrintable(path), rows - smaller,
                 qPrintable(from));
    const QString tmp = path + ".part";
    QFile::remove(tmp);
    QFile::copy(from, tmp);
    addRecords(tmp, smaller + 1, rows - smaller);
    QFile::rename(tmp, path);
    sqliteTwin(path, path + ".sqlite");
    return path;
}

qint64 folderBytes(const QString& dir) {
    qint64 n = 0;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) n += QFileInfo(it.next()).size();
    return n;
}

// The process's resident high-water mark (the pages of a mapped file it read included).
double peakResidentMb() {
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// The first screen: the count and every field of the first 50 records.
long long firstScreen(const QString& path, const QString& cache, qint64* tempBytes = nullptr) {
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset(kTable);
    const long long count = rs->RecordCount();
    const int n = rs->Fields().Count();
    long long seen = 0;
    for (long long r = 0; r < std::min<long long>(50, count); ++r)
        for (int c = 0; c < n; ++c) seen += rs->valueAt(r, c).isNull() ? 0 : 1;
    if (tempBytes) *tempBytes = folderBytes(cache);
    rs->Close();
    db->Close();
    return count + seen * 0;
}

long long walk(const QString& path) {
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset(kTable);
    // The fields taken once, as the program's own walks (the text export) take them.
    std::vector<dao::Field> fields;
    for (int c = 0; c < rs->Fields().Count(); ++c) fields.push_back(rs->Fields().Item(c));
    long long seen = 0;
    for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext())
        for (const dao::Field& f : fields) seen += f.Value().isNull() ? 0 : 1;
    rs->Close();
    db->Close();
    return seen;
}

QString copyTo(const QString& from, const QString& to) {
    QFile::remove(to);
    if (!QFile::copy(from, to)) die("cannot copy " + from);
    QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
    return to;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--add") {  // FILE FIRST COUNT: adds through the engine
        std::printf("%.4f ms a record\n",
                    addRecords(argv[2], QByteArray(argv[3]).toLongLong(), kAdds) / kAdds);
        return 0;
    }
    if (argc == 3 && QByteArray(argv[1]) == "--open") {  // FILE: ten first screens of it, one after another
        QTemporaryDir tmp;
        qputenv("XDG_CACHE_HOME", tmp.path().toUtf8());
        for (int k = 0; k < 10; ++k)
            std::printf("%.2f ms\n", bench::timeMs([&] { firstScreen(argv[2], tmp.path()); }));
        return 0;
    }
    if (argc == 3 && QByteArray(argv[1]) == "--walk") {  // FILE: three walks of it (Access or SQLite)
        for (int k = 0; k < 3; ++k) std::printf("%.1f ms\n", bench::timeMs([&] { walk(argv[2]); }));
        return 0;
    }
    QTemporaryDir tmp;
    // The working copies go to a cache folder of the run's own, to be measured.
    const QString cache = tmp.filePath("cache");
    QDir().mkpath(cache);
    qputenv("XDG_CACHE_HOME", cache.toUtf8());
    std::vector<long long> sizes{10000, 100000, 1000000};
    if (const QByteArray s = qgetenv("TABULON_BENCH_SIZES"); !s.isEmpty()) {
        sizes.clear();
        for (const QByteArray& part : s.split(',')) sizes.push_back(part.toLongLong());
    }
    // TABULON_BENCH_PARTS=add (or open, walk, comma-separated) runs only those figures.
    const QByteArray parts = qgetenv("TABULON_BENCH_PARTS");
    auto wanted = [&](const char* part) { return parts.isEmpty() || parts.split(',').contains(part); };
    try {
        for (const Format& fmt : kFormats) {
            // TABULON_BENCH_FORMATS=accdb (or mdb) measures one format only.
            if (const QByteArray f = qgetenv("TABULON_BENCH_FORMATS");
                !f.isEmpty() && !f.split(',').contains(fmt.id))
                continue;
            for (long long rows : sizes) {
                const QString jet = fileOf(fmt, rows);
                const QString lite = jet + ".sqlite";
                const QByteArray id = QByteArray(fmt.id) + "." + QByteArray::number(rows);
                // Opening: a file not open before each time (no working copy of it is kept).
                if (wanted("open")) {
                    const int runs = rows >= 1000000 ? 1 : 3;
                    qint64 tempBytes = 0;
                    long long count = 0;
                    const double rssBefore = bench::residentMb();
                    const auto [raw, ours] = bench::bestPair(
                        runs, [&] { firstScreen(lite, cache); },
                        [&] { count = firstScreen(jet, cache, &tempBytes); });
                    if (count != rows)
                        die(QString("%1 records counted in %2, %3 expected").arg(count).arg(jet).arg(rows));
                    bench::report(("jet.open_large." + id).constData(), ours, raw);
                    std::printf(
                        "# jet.open_large.%s file_mb=%.1f temp_mb=%.1f resident_mb=%.1f (before %.1f) "
                        "peak_resident_mb=%.1f\n",
                        id.constData(), double(QFileInfo(jet).size()) / 1048576.0,
                        double(tempBytes) / 1048576.0, bench::residentMb(), rssBefore, peakResidentMb());
                    std::fflush(stdout);
                }

                if (wanted("walk")) {
                    const auto [exportMs, walkMs] = bench::bestPair(
                        1,
                        [&] {
                            QProcess p;
                            p.setStandardOutputFile(QProcess::nullDevice());
                            p.start("mdb-export", {jet, kTable});
                            if (!p.waitForFinished(-1) || p.exitCode() != 0)
                                die("mdb-export failed on " + jet);
                        },
                        [&] { walk(jet); });
                    bench::report(("jet.walk_large." + id).constData(), walkMs, exportMs);
                }
                if (!wanted("add")) continue;

                // Adds into copies, so that the kept files stay as built.
                const QString jetCopy = copyTo(jet, tmp.filePath(QString("add.") + fmt.ext));
                const QString liteCopy = copyTo(lite, tmp.filePath("add.sqlite"));
                const double oursAdd = addRecords(jetCopy, rows + 1, kAdds);
                const double rawAdd = addRecords(liteCopy, rows + 1, kAdds);
                QFile::remove(jetCopy);
                QFile::remove(liteCopy);
                std::printf("BENCH name=jet.add.%s ours_ms=%.4f raw_ms=%.4f ratio=%.2f\n", id.constData(),
                            oursAdd / kAdds, rawAdd / kAdds, oursAdd / rawAdd);
                std::fflush(stdout);
            }
        }
    } catch (const dao::Error& e) {
        die(QString("error %1: %2").arg(e.number()).arg(e.description()));
    }
    return 0;
}
