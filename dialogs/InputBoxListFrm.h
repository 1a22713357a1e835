#pragma once

// The input box with its entries shown as a list (ListBox): the same fields and buttons as
// InputBoxFrm, and a double-click on an entry accepts it at once.

#include "InputBoxBase.h"

namespace dialogs {

class ListComboBox;

class InputBoxListFrm : public InputBoxBase {
    Q_OBJECT
public:
    explicit InputBoxListFrm(QWidget* parent = nullptr);

    ListComboBox* listBox() const { return ListBox; }

public slots:
    // A double-click on the list: OK, unless the text is empty.
    void listDoubleClicked();

protected:
    QString listText() const override;
    QStringList listEntries() const override;

private:
    ListComboBox* ListBox;
};

}  // namespace dialogs
