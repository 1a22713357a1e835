#include "PlaceholderBrowser.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace shell {

PlaceholderBrowser::PlaceholderBrowser(QWidget* parent, const QString& dbFile, const QString& records,
                                       const QString& table)
    : QDialog(parent) {
    setObjectName(QStringLiteral("AdvanceViewForm"));
    setWindowTitle(QStringLiteral("Records para ") + table);
    resize(platform::twipsToPixelsX(9600), platform::twipsToPixelsY(6000));

    auto* grid = new QTableWidget(this);
    grid->setObjectName(QStringLiteral("grdDataGrid"));
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setWordWrap(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid);
    layout->addWidget(buttons);

    try {
        auto db = dao::OpenDatabase(dbFile);
        auto rs = db->OpenRecordset(records == QLatin1String("*") ? table : records);
        const dao::Fields fields = rs->Fields();
        const long long rows = std::min<long long>(rs->RecordCount(), MaxRecords);
        grid->setColumnCount(fields.Count());
        grid->setRowCount(int(rows));
        QStringList headers;
        for (int c = 0; c < fields.Count(); ++c) headers << fields.Item(c).Name();
        grid->setHorizontalHeaderLabels(headers);
        for (long long r = 0; r < rows; ++r) {
            for (int c = 0; c < fields.Count(); ++c) {
                const dao::Variant v = rs->valueAt(r, c);
                const QString text = v.isNull() ? QString() : dao::valueToText(v);
                grid->setItem(int(r), c, new QTableWidgetItem(text));
            }
        }
        rs->Close();
        db->Close();
    } catch (const dao::Error& e) {
        platform::MsgBox(QString::number(e.number()) + QStringLiteral(": ") + e.description(),
                         platform::vbCritical);
    }
}

}  // namespace shell
