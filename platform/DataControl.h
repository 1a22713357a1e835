#pragma once

// The data control: a database file and a record source (a table name or an SQL text), opened into a
// recordset that bound grids show. Each data control owns its own connection.

#include <QObject>
#include <QString>
#include <memory>

namespace dao {
class Database;
class Error;
class Recordset;
}  // namespace dao

namespace platform {

// What is about to happen when Validate is raised (the classic action codes).
enum DataAction : int {
    vbDataActionCancel = 0,
    vbDataActionMoveFirst = 1,
    vbDataActionMovePrevious = 2,
    vbDataActionMoveNext = 3,
    vbDataActionMoveLast = 4,
    vbDataActionAddNew = 5,
    vbDataActionUpdate = 6,
    vbDataActionDelete = 7,
    vbDataActionFind = 8,
    vbDataActionBookmark = 9,
};

class DataControl : public QObject {
    Q_OBJECT
public:
    explicit DataControl(QObject* parent = nullptr);
    ~DataControl() override;

    QString DatabaseName() const { return databaseName_; }
    void setDatabaseName(const QString& path) { databaseName_ = path; }
    QString RecordSource() const { return recordSource_; }
    void setRecordSource(const QString& source) { recordSource_ = source; }

    // Opens the database and the record source afresh and makes the first record current. Engine
    // errors (dao::Error) reach the caller, and the control keeps what it had before.
    void Refresh();

    // The records shown; null before the first Refresh.
    std::shared_ptr<dao::Recordset> Recordset() const { return recordset_; }
    // Shows another recordset (e.g. a sorted one) in the bound grids.
    void setRecordset(std::shared_ptr<dao::Recordset> rs);
    // The control's own connection; null before the first Refresh.
    std::shared_ptr<dao::Database> Database() const { return database_; }

    // Moves made through the control: Validate first (a handler may cancel), then Reposition.
    // Engine errors reach the caller. False when a Validate handler cancelled the move.
    bool MoveFirst();
    bool MoveLast();
    bool MoveNext();
    bool MovePrevious();
    // Makes the record at 0-based `position` current (the grid moves this way).
    bool moveTo(long long position);

    // Window code that moved the recordset directly announces it here (raises Reposition).
    void notifyReposition() { emit reposition(); }
    // Window code that added or deleted records through the recordset announces it here: bound
    // grids take the new record count, and Reposition follows.
    void notifyRecordsChanged();

    // Raises Error for an engine error met outside the window's code; true when a handler took it.
    bool raiseError(const dao::Error& e);

    // Raises Error (or shows the message) for changes the engine could not save, then tells the
    // bound grids to show the stored values again. Called by the engine's notice, queued.
    void reportWriteFailures();

signals:
    // The current record changed; also after every Refresh and recordset assignment.
    void reposition();
    // An engine error outside the window's code; a handler sets *handled to keep the default
    // message from showing.
    void error(int number, QString description, bool* handled);
    // Before the current record is left; a handler may set *action to vbDataActionCancel.
    void validate(int* action);
    // The recordset was replaced (Refresh or assignment) or its records were added or deleted.
    void recordsetChanged();
    // Values shown may differ from the stored ones (a change could not be saved): read them again.
    void storedValuesChanged();

private:
    bool allowMove(int action);
    QString databaseName_;
    QString recordSource_;
    std::shared_ptr<dao::Database> database_;
    std::shared_ptr<dao::Recordset> recordset_;
};

}  // namespace platform
