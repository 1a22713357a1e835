#include "Form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QThread>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QFileInfo>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>

#include "AppIcon.h"
#include "Globals.h"
#include "ReadingProgress.h"
#include "browser/AdvanceViewForm.h"
#include "common/StandarFunctions.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "platform/Twips.h"
#include "platform/dao/Dao.h"

namespace shell {

namespace {

// Design sizes, in twips.
constexpr int FormWidth = 6600;
constexpr int FormHeight = 5100;
constexpr int ButtonWidth = 1215;
constexpr int ButtonHeight = 375;
constexpr int Gap = 120;
constexpr int ImageSize = 480;

const QString SettingsSection = QStringLiteral("Settings");
const QString LastOpenedKey = QStringLiteral("LastOpened");

// A protected Access file, or a database server that asks for a password libpq found nowhere, asks
// for it in a password box; Cancel (or nothing typed) opens nothing. Only the window's own thread
// may ask.
std::optional<QString> askPassword(const QString& path) {
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) return std::nullopt;
    const QString pw = platform::PasswordBox(
        dao::IsServerUri(path) ? QString("The database server '%1' needs a password.\rPassword:").arg(path)
                               : QString("The file '%1' needs a password.\rPassword:").arg(QFileInfo(path).fileName()));
    if (pw.isEmpty()) dao::raise(dao::err::Cancelled);
    return pw;
}

QPushButton* makeButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setMinimumSize(platform::twipsToPixelsX(ButtonWidth), platform::twipsToPixelsY(ButtonHeight));
    b->setAutoDefault(false);
    return b;
}

}  // namespace

Form1::BrowserFactory Form1::browserFactory = &browser::AdvanceViewForm::create;

Form1::Form1(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tabulon 1.0"));
    setWindowIcon(appIcon());
    dao::setPasswordSource(askPassword);
    buildControls();
    setDatabaseListed(false);
    resize(platform::twipsToPixelsX(FormWidth), platform::twipsToPixelsY(FormHeight));

    FileTxT->setText(platform::GetSetting(platform::appTitle(), SettingsSection, LastOpenedKey));
    FileTxT->selectAll();
    common::CenterForm(this);
}

void Form1::buildControls() {
    const int gap = platform::twipsToPixelsX(Gap);

    SSPanel2 = new QGroupBox(QStringLiteral("Database"), this);
    SSPanel2->setObjectName(QStringLiteral("SSPanel2"));
    FileTxT = new QLineEdit(SSPanel2);
    FileTxT->setObjectName(QStringLiteral("FileTxT"));
    FileTxT->setAccessibleName(QStringLiteral("Database file"));
    FileTxT->setMinimumHeight(platform::twipsToPixelsY(ButtonHeight));
    BrowseBtn = makeButton(QStringLiteral("BrowseBtn"), QStringLiteral("&Browse"), SSPanel2);
    OpenDatabaseBtn = makeButton(QStringLiteral("OpenDatabaseBtn"), QStringLiteral("&Open"), SSPanel2);
    CloseDatabaseBtn = makeButton(QStringLiteral("CloseDatabaseBtn"), QStringLiteral("&Close"), SSPanel2);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(FileTxT, 1);
    pathRow->addWidget(BrowseBtn);
    auto* dbButtons = new QHBoxLayout;
    dbButtons->addStretch(1);
    dbButtons->addWidget(OpenDatabaseBtn);
    dbButtons->addWidget(CloseDatabaseBtn);
    auto* dbLayout = new QVBoxLayout(SSPanel2);
    dbLayout->setSpacing(gap / 2);
    dbLayout->addLayout(pathRow);
    dbLayout->addLayout(dbButtons);

    SSPanel1 = new QGroupBox(QStringLiteral("Database Tables"), this);
    SSPanel1->setObjectName(QStringLiteral("SSPanel1"));
    Tables = new QListWidget(SSPanel1);
    Tables->setObjectName(QStringLiteral("Tables"));
    Tables->setSelectionMode(QAbstractItemView::SingleSelection);
    Tables->installEventFilter(this);
    Tables->setAccessibleName(SSPanel1->title());
    OpenTable = makeButton(QStringLiteral("OpenTable"), QStringLiteral("&Open"), SSPanel1);
    auto* tableButtons = new QVBoxLayout;
    tableButtons->addWidget(OpenTable);
    tableButtons->addStretch(1);
    auto* tablesLayout = new QHBoxLayout(SSPanel1);
    tablesLayout->addWidget(Tables, 1);
    tablesLayout->addLayout(tableButtons);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    const int imageSize = platform::twipsToPixelsX(ImageSize);
    QPixmap image = appIconPixmap(imageSize * devicePixelRatio());
    image.setDevicePixelRatio(devicePixelRatio());
    Image1->setPixmap(image);
    Image1->setFixedSize(imageSize, imageSize);
    CancelBtn = makeButton(QStringLiteral("CancelBtn"), QStringLiteral("&Exit"), this);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Image1);
    bottom->addStretch(1);
    bottom->addWidget(CancelBtn, 0, Qt::AlignBottom);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(gap, gap, gap, gap);
    layout->setSpacing(gap);
    layout->addWidget(SSPanel2);
    layout->addWidget(SSPanel1, 1);
    layout->addLayout(bottom);

    setTabOrder(FileTxT, BrowseBtn);
    setTabOrder(BrowseBtn, OpenDatabaseBtn);
    setTabOrder(OpenDatabaseBtn, CloseDatabaseBtn);
    setTabOrder(CloseDatabaseBtn, Tables);
    setTabOrder(Tables, OpenTable);
    setTabOrder(OpenTable, CancelBtn);

    connect(BrowseBtn, &QPushButton::clicked, this, &Form1::browse);
    connect(OpenDatabaseBtn, &QPushButton::clicked, this, &Form1::openDatabase);
    connect(FileTxT, &QLineEdit::returnPressed, this, &Form1::openDatabase);
    connect(CloseDatabaseBtn, &QPushButton::clicked, this, &Form1::closeDatabase);
    connect(OpenTable, &QPushButton::clicked, this, &Form1::openTable);
    connect(CancelBtn, &QPushButton::clicked, this, &QWidget::close);
}

void Form1::setStartFile(const QString& path) {
    FileTxT->setText(path);
    FileTxT->selectAll();
}

void Form1::setDatabaseListed(bool listed) {
    FileTxT->setEnabled(!listed);
    BrowseBtn->setEnabled(!listed);
    OpenDatabaseBtn->setEnabled(!listed);
    CloseDatabaseBtn->setEnabled(listed);
    // Both Open buttons carry Alt+O. While the path can be opened, it belongs to the path's Open
    // (the table list is empty then); once a database is listed, to the table's Open.
    OpenTable->setShortcut(listed ? QKeySequence::mnemonic(OpenTable->text()) : QKeySequence());
}

void Form1::selectPath() {
    FileTxT->selectAll();
    FileTxT->setFocus();
}

void Form1::browse() {
    // The pattern lists the classic files first; the filter offers the other formats we open.
    const QString chosen = platform::OpenFileDialog(
        QString(), QStringLiteral("*.mdb"),
        QStringLiteral("Access databases (*.mdb);;SQLite databases (*.db *.sqlite *.sqlite3 *.db3);;"
                       "Access 2007 databases (*.accdb);;All files (*)"));
    if (!chosen.isEmpty()) FileTxT->setText(chosen);
    FileTxT->setFocus();
}

void Form1::openDatabase() {
    if (!OpenDatabaseBtn->isEnabled()) return;
    setCursor(Qt::WaitCursor);
    DatabaseFile = FileTxT->text();
    // A PostgreSQL URI names a database on its server, not a file.
    if (dao::IsServerUri(DatabaseFile) || common::FileExists(DatabaseFile)) {
        try {
            // An Access file's first records are read before its tables are listed; a reading that
            // takes longer than a moment shows how far it is, keeps the window painted and can be
            // cancelled.
            ReadingProgress progress(DatabaseFile, this);
            const dao::OpenWatch watch = progress.watch();
            auto db = dao::OpenDatabase(DatabaseFile, watch);
            progress.close();
            Tables->addItems(common::UserTableNames(*db));
            listedDb_ = std::move(db);
            setDatabaseListed(true);
            Tables->setFocus();
        } catch (const dao::Error& e) {
            // Cancelled by the user: nothing to tell.
            if (e.number() != dao::err::Cancelled)
                platform::MsgBox(QString::number(e.number()) + QStringLiteral(": ") + e.description(),
                                 platform::vbCritical);
            selectPath();
        } catch (const std::exception& e) {
            platform::MsgBox(QString::fromLocal8Bit(e.what()), platform::vbCritical);
            selectPath();
        }
    } else {
        platform::MsgBox(QStringLiteral("This file could not be found!"), platform::vbExclamation);
        selectPath();
    }
    unsetCursor();
}

void Form1::closeDatabase() {
    if (listedDb_) {
        try {
            listedDb_->Close();
        } catch (const dao::Error&) {
            // Nothing was changed through it.
        }
        listedDb_.reset();
    }
    CloseDatabaseBtn->setEnabled(false);
    setDatabaseListed(false);
    Tables->clear();
    FileTxT->setFocus();
}

void Form1::openTable() {
    const QList<QListWidgetItem*> selected = Tables->selectedItems();
    if (selected.isEmpty() || selected.first()->text().isEmpty()) return;
    const QString table = selected.first()->text();
    setCursor(Qt::WaitCursor);
    try {
        // One fresh browser per Open, released when its modal show ends.
        std::unique_ptr<QDialog> browser(browserFactory ? browserFactory(this, DatabaseFile, "*", table)
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

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    // Enter on a table name opens it, like the Open button beside the list (double-clicking does not).
    if (watched == Tables && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // The keyboard's table is the current one, even before the arrows have selected it.
            if (Tables->selectedItems().isEmpty() && Tables->currentItem()) Tables->currentItem()->setSelected(true);
            openTable();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
    platform::SaveSetting(platform::appTitle(), SettingsSection, LastOpenedKey,
                          dao::ShownDatabaseName(FileTxT->text()));
    event->accept();
}

}  // namespace shell
