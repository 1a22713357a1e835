#pragma once

// The input box: a prompt, a description and a drop-down combo box (ListBox) in which the user types
// a value or picks one of the caller's entries. The caller fills FormText, DescriptionLbl and ListBox,
// sets the public fields, shows it modally and reads ReturnValue.

#include "InputBoxBase.h"

class QComboBox;

namespace dialogs {

class InputBoxFrm : public InputBoxBase {
    Q_OBJECT
public:
    explicit InputBoxFrm(QWidget* parent = nullptr);

    QComboBox* listBox() const { return ListBox; }

protected:
    QString listText() const override;
    QStringList listEntries() const override;

private:
    QComboBox* ListBox;
};

}  // namespace dialogs
