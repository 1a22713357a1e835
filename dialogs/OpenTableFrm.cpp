#include "OpenTableFrm.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <memory>

#include "browser/AdvanceViewForm.h"
#include "common/ProgramGlobals.h"
#include "common/StandarFunctions.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "platform/dao/Dao.h"

namespace dialogs {

OpenTableFrm::BrowserFactory OpenTableFrm::browserFactory = &browser::AdvanceViewForm::create;

OpenTableFrm::OpenTableFrm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("OpenTableFrm"));
    setWindowTitle(QStringLiteral("Open Table"));
    Label1 = new QLabel(QStringLiteral("Tables:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    TableList = new QListWidget(this);
    TableList->setObjectName(QStringLiteral("TableList"));
    TableList->setSelectionMode(QAbstractItemView::SingleSelection);
    UpdateBtn = new QPushButton(QStringLiteral("&Open"), this);
    UpdateBtn->setObjectName(QStringLiteral("UpdateBtn"));
    UpdateBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("&Close"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setAutoDefault(false);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(UpdateBtn);
    buttons->addWidget(CancelBtn);
    buttons->addStretch(1);
    auto* body = new QHBoxLayout;
    body->addWidget(TableList, 1);
    body->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addLayout(body, 1);

    connect(UpdateBtn, &QPushButton::clicked, this, &OpenTableFrm::openTable);
    connect(TableList, &QListWidget::itemDoubleClicked, this, &OpenTableFrm::openTable);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::close);
    resize(platform::twipsToPixelsX(4800), platform::twipsToPixelsY(4200));
}

QString OpenTableFrm::databaseFile() const {
    return alTABLE.isEmpty() ? common::DatabaseFile : alTABLE;
}

void OpenTableFrm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!loaded_ && !event->spontaneous()) {
        loaded_ = true;
        common::CenterForm(this);
        loadTables();
    }
}

void OpenTableFrm::closeEvent(QCloseEvent* event) {
    loaded_ = false;  // the next show lists the tables afresh
    QDialog::closeEvent(event);
}

void OpenTableFrm::done(int result) {
    loaded_ = false;
    QDialog::done(result);
}

void OpenTableFrm::loadTables() {
    TableList->clear();
    try {
        TableList->addItems(common::UserTableNames(databaseFile()));
        TableList->setCurrentRow(-1);
    } catch (const dao::Error& e) {
        platform::MsgBox(QString::number(e.number()) + QStringLiteral(": ") + e.description(),
                         platform::vbCritical);
    }
}

void OpenTableFrm::openTable() {
    const QListWidgetItem* item = TableList->currentItem();
    if (!item || !item->isSelected()) return;
    const QString table = item->text();
    setCursor(Qt::WaitCursor);
    try {
        std::unique_ptr<QDialog> browser(browserFactory ? browserFactory(this, databaseFile(), "*", table)
                                                        : nullptr);
        if (browser) {
            browser->setWindowModality(Qt::ApplicationModal);
            browser->exec();
        }
    } catch (const dao::Error& e) {
        platform::MsgBox(QString::number(e.number()) + QStringLiteral(": ") + e.description(),
                         platform::vbCritical);
    }
    unsetCursor();
}

}  // namespace dialogs
