#include "SearchDirectory.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStorageInfo>
#include <QStyle>
#include <QVBoxLayout>

#include "DirectoryListBox.h"
#include "common/StandarFunctions.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "platform/dao/Error.h"

namespace dialogs {

SearchDirectory::SearchDirectory(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SearchDirectory"));
    setWindowTitle(QStringLiteral("Select Directory"));

    SSPanel1 = new QFrame(this);
    SSPanel1->setObjectName(QStringLiteral("SSPanel1"));
    SSPanel1->setFrameShape(QFrame::StyledPanel);
    Picture1 = new QLabel(SSPanel1);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    const int icon = platform::twipsToPixelsX(480);
    Picture1->setPixmap(style()->standardIcon(QStyle::SP_DirOpenIcon).pixmap(icon, icon));
    DriveList = new QComboBox(SSPanel1);
    DriveList->setObjectName(QStringLiteral("DriveList"));
    DirectoryList = new DirectoryListBox(SSPanel1);
    DirectoryList->setObjectName(QStringLiteral("DirectoryList"));
    SelectedDirTxT = new QLineEdit(SSPanel1);
    SelectedDirTxT->setObjectName(QStringLiteral("SelectedDirTxT"));
    SelectedDirTxT->setReadOnly(true);
    Okbtn = new QPushButton(QStringLiteral("&OK"), this);
    Okbtn->setObjectName(QStringLiteral("Okbtn"));
    Okbtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("&Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setAutoDefault(false);

    auto* panel = new QGridLayout(SSPanel1);
    panel->addWidget(Picture1, 0, 0, Qt::AlignTop);
    panel->addWidget(SelectedDirTxT, 0, 1);
    panel->addWidget(DriveList, 1, 1);
    panel->addWidget(DirectoryList, 2, 1);
    panel->setRowStretch(2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Okbtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SSPanel1, 1);
    layout->addLayout(buttons);

    fillDrives();
    // The list starts in the current folder; one that has gone (removed while the program ran)
    // gives way to the home folder.
    for (const QString& start : {QDir::currentPath(), QDir::homePath(), QDir::rootPath()}) {
        try {
            DirectoryList->setPath(start);
            break;
        } catch (const dao::Error&) {
        }
    }

    connect(DirectoryList, &DirectoryListBox::pathChanged, this, [this](const QString& path) {
        DIRECTORY_PATH = QDir::toNativeSeparators(path);
        SelectedDirTxT->setText(DIRECTORY_PATH);
    });
    connect(DriveList, &QComboBox::activated, this, &SearchDirectory::driveChanged);
    connect(Okbtn, &QPushButton::clicked, this, &QWidget::hide);
    connect(CancelBtn, &QPushButton::clicked, this, &QWidget::close);
    resize(platform::twipsToPixelsX(5400), platform::twipsToPixelsY(5400));
}

void SearchDirectory::fillDrives() {
    DriveList->clear();
    DriveList->addItem(style()->standardIcon(QStyle::SP_DirHomeIcon), QDir::toNativeSeparators(QDir::homePath()),
                       QDir::homePath());
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid()) continue;
        const QString root = volume.rootPath();
        const QString name = volume.displayName() == root ? root : volume.displayName() + " (" + root + ")";
        DriveList->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), QDir::toNativeSeparators(name), root);
    }
}

int SearchDirectory::driveOf(const QString& path) const {
    const QString own = QDir::cleanPath(QDir::fromNativeSeparators(path));
    int best = -1;
    qsizetype bestLength = -1;
    for (int i = 0; i < DriveList->count(); ++i) {
        const QString root = QDir::cleanPath(DriveList->itemData(i).toString());
        const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
        if ((own == root || own.startsWith(prefix)) && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    return best;
}

void SearchDirectory::showDriveOf(const QString& path) {
    const QSignalBlocker block(DriveList);
    DriveList->setCurrentIndex(driveOf(path));
}

void SearchDirectory::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!loaded_ && !event->spontaneous()) loadForm();
}

void SearchDirectory::closeEvent(QCloseEvent* event) {
    loaded_ = false;
    QDialog::closeEvent(event);
}

void SearchDirectory::done(int result) {
    loaded_ = false;
    QDialog::done(result);
}

void SearchDirectory::loadForm() {
    loaded_ = true;
    common::CenterForm(this);
    if (!DIRECTORY_PATH.isEmpty()) {
        SelectedDirTxT->setText(DIRECTORY_PATH);
        try {
            DirectoryList->setPath(QDir::fromNativeSeparators(DIRECTORY_PATH));
        } catch (const dao::Error& e) {
            // A starting folder that is gone: the list stays where it was, and says so.
            platform::MsgBox(e.description(), platform::vbExclamation);
            DIRECTORY_PATH = QDir::toNativeSeparators(DirectoryList->path());
            SelectedDirTxT->setText(DIRECTORY_PATH);
        }
    } else {
        DIRECTORY_PATH = QDir::toNativeSeparators(DirectoryList->path());
        SelectedDirTxT->setText(DIRECTORY_PATH);
    }
    showDriveOf(DirectoryList->path());
}

void SearchDirectory::driveChanged(int index) {
    const QString drive = DriveList->itemData(index).toString();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    for (;;) {
        try {
            DirectoryList->setPath(drive);
            break;
        } catch (const dao::Error& e) {
            QGuiApplication::restoreOverrideCursor();
            const QString text = e.number() == dao::err::DeviceUnavailable
                                     ? QStringLiteral("Drive not ready")
                                     : e.description() + QStringLiteral(" - ") + QString::number(e.number());
            if (platform::MsgBox(text, platform::vbCritical + platform::vbRetryCancel) == platform::vbRetry) {
                QGuiApplication::setOverrideCursor(Qt::WaitCursor);
                continue;
            }
            // Back to the drive of the program's own folder, and to that folder.
            showDriveOf(QCoreApplication::applicationDirPath());
            try {
                DirectoryList->setPath(QCoreApplication::applicationDirPath());
            } catch (const dao::Error&) {
            }
            return;
        }
    }
    QGuiApplication::restoreOverrideCursor();
}

}  // namespace dialogs
