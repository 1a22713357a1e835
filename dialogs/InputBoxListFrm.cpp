#include "InputBoxListFrm.h"

#include "ListComboBox.h"

namespace dialogs {

InputBoxListFrm::InputBoxListFrm(QWidget* parent) : InputBoxBase(parent) {
    setObjectName(QStringLiteral("InputBoxListFrm"));
    ListBox = new ListComboBox(this);
    ListBox->setObjectName(QStringLiteral("ListBox"));
    buildControls(ListBox);
    resize(width(), height() + ListBox->sizeHint().height());
    connect(ListBox, &ListComboBox::entryDoubleClicked, this, &InputBoxListFrm::listDoubleClicked);
}

void InputBoxListFrm::listDoubleClicked() {
    if (!ListBox->text().isEmpty()) ok();
}

QString InputBoxListFrm::listText() const {
    return ListBox->text();
}

QStringList InputBoxListFrm::listEntries() const {
    QStringList entries;
    for (int i = 0; i < ListBox->count(); ++i) entries << ListBox->itemText(i);
    return entries;
}

}  // namespace dialogs
