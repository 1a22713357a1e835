#pragma once

// What the two input boxes share: the public fields in their order, the prompt and description
// labels, OK and Cancel, the icon, and the placement on load. The entries and the typed text live in
// each dialog's own ListBox.

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QPushButton;

namespace dialogs {

class InputBoxBase : public QDialog {
    Q_OBJECT
public:
    // Left and top edge in twips; 0 means that no position is given on that axis.
    qint32 Xpos = 0;
    qint32 Ypos = 0;
    // The answer, read by the caller after the dialog closes.
    QString ReturnValue;
    // Cancel writes "-1" into ReturnValue.
    bool ReturnNegative = false;
    // OK accepts only a text equal (exactly, case included) to one of the entries.
    bool EntryOnlyFromList = false;

    QLabel* formText() const { return FormText; }
    QLabel* descriptionLbl() const { return DescriptionLbl; }

    // The design position of the window, in twips.
    static constexpr int DesignLeft = 2700;
    static constexpr int DesignTop = 2100;

public slots:
    void ok();
    void cancel();
    // Cancel, Escape and the window's close button alike.
    void reject() override;

protected:
    explicit InputBoxBase(QWidget* parent);
    // Lays out the labels, the dialog's ListBox and the buttons.
    void buildControls(QWidget* listBox);
    virtual QString listText() const = 0;
    virtual QStringList listEntries() const = 0;
    void showEvent(QShowEvent* event) override;

    QLabel* FormText;
    QLabel* DescriptionLbl;
    QPushButton* Okbtn;
    QPushButton* CancelBtn;
    QLabel* Image1;

private:
    void place();
};

}  // namespace dialogs
