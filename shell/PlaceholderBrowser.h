#pragma once

// A stand-in for the table browser until the real one is installed in Form1::browserFactory:
// a read-only grid of the table's first records.

#include <QDialog>

namespace shell {

class PlaceholderBrowser : public QDialog {
    Q_OBJECT

public:
    static constexpr int MaxRecords = 1000;

    PlaceholderBrowser(QWidget* parent, const QString& dbFile, const QString& records, const QString& table);
};

}  // namespace shell
