#include "InputBoxFrm.h"

#include <QComboBox>
#include <QLineEdit>

namespace dialogs {

InputBoxFrm::InputBoxFrm(QWidget* parent) : InputBoxBase(parent) {
    setObjectName(QStringLiteral("InputBoxFrm"));
    ListBox = new QComboBox(this);
    ListBox->setObjectName(QStringLiteral("ListBox"));
    ListBox->setEditable(true);
    // The typed text is the answer; Enter must not add it to the entries.
    ListBox->setInsertPolicy(QComboBox::NoInsert);
    buildControls(ListBox);
}

QString InputBoxFrm::listText() const {
    return ListBox->currentText();
}

QStringList InputBoxFrm::listEntries() const {
    QStringList entries;
    for (int i = 0; i < ListBox->count(); ++i) entries << ListBox->itemText(i);
    return entries;
}

}  // namespace dialogs
