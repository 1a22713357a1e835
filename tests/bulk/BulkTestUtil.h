#pragma once

// Shared by the bulk tool tests: a progress sink that records, a look at a file through the
// sqlite3 shell (bypassing the engine), and readable QString failures.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <vector>

#include "../platform/QStringPrint.h"
#include "bulk/Progress.h"
#include "platform/dao/Dao.h"

namespace bulktest {

struct RecordingProgress : bulk::Progress {
    QString caption;
    qint64 minimum = -1, maximum = -1;
    std::vector<qint64> steps;
    int begins = 0, ends = 0;
    void begin(const QString& c, qint64 lo, qint64 hi) override {
        caption = c;
        minimum = lo;
        maximum = hi;
        ++begins;
    }
    void setMaximum(qint64 m) override { maximum = m; }
    void step(qint64 v) override { steps.push_back(v); }
    void end() override { ++ends; }
    qint64 last() const { return steps.empty() ? -1 : steps.back(); }
};

// Rows of a statement run by the sqlite3 shell, columns joined by '|', NULL as "NULL".
// Our own pending writes are committed first.
inline QStringList shell(const QString& path, const QString& sql) {
    dao::flushAllWrites();
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {QStringLiteral("-cmd"), QStringLiteral(".timeout 5000"),
                                        QStringLiteral("-nullvalue"), QStringLiteral("NULL"), path, sql});
    p.waitForFinished(60000);
    QString out = QString::fromUtf8(p.readAllStandardOutput());
    if (out.endsWith(QLatin1Char('\n'))) out.chop(1);
    const QString err = QString::fromUtf8(p.readAllStandardError()).trimmed();
    if (!err.isEmpty()) return {QStringLiteral("ERROR: ") + err};
    return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
}

inline QString shellValue(const QString& path, const QString& sql) {
    const QStringList rows = shell(path, sql);
    return rows.isEmpty() ? QString() : rows.first();
}

}  // namespace bulktest
