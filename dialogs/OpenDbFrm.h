#pragma once

// The record picker: the values of one field of a table in a data-bound drop-down list. For the value
// picked it deletes that record after a confirmation (FormMode 1) or opens FormToLoad positioned on
// it (FormMode 2 or 3). FormToLoad must declare the properties Mode, SORT_FIELD and GotoRecord
// (Q_PROPERTY): they are set by name before it is shown.

#include <QDialog>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace platform {
class DataControl;
class GridModel;
}  // namespace platform

namespace dialogs {

class OpenDbFrm : public QDialog {
    Q_OBJECT
public:
    explicit OpenDbFrm(QWidget* parent = nullptr);

    bool ErrorState = false;
    qint32 PicType = 0;
    qint32 FormMode = 0;
    QPointer<QWidget> FormToLoad;
    qint32 MyIdiom = 0;  // 0 Spanish, 1 English
    QString QuestionString;
    bool UnloadUponShow = false;
    bool NotOneClickOpen = false;
    QString DBFileName;
    QString DBTable;
    QString DBiField;
    QString SavedData;
    QString SAVE_DATA_FIELD;
    QString ComboCaption;

    // The load step (run when the window is shown): picture, records, list, question text.
    void loadForm();
    // Acts on the value picked in ComboList as FormMode says.
    void OpenCurrentRecord();

    platform::DataControl* dataControl() const { return datPrimaryRS; }
    QComboBox* comboList() const { return ComboList; }
    // The number of the picture shown (1-based in the image store; 0 none).
    int shownPicture() const { return shownPicture_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Escape and the window's close button end here too: the window unloads.
    void done(int result) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void unloadLater();
    void actWithPointer();
    void refreshList();
    bool moveToPicked();

    platform::DataControl* datPrimaryRS;
    platform::GridModel* listModel_;
    QGroupBox* ComboFrame;
    QComboBox* ComboList;
    QPushButton* Okbtn;
    QPushButton* CancelBtn;
    QLabel* FormPicture;
    std::vector<QPixmap> Images;
    int shownPicture_ = 0;
    bool loaded_ = false;
    bool pickedInList_ = false;  // a click or Enter in the popup's list is on its way as "activated"
};

}  // namespace dialogs
