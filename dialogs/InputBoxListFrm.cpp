#include "InputBoxListFrm.h"

#include "ListComboBox.h"
#include "platform/Twips.h"

namespace dialogs {

InputBoxListFrm::InputBoxListFrm(QWidget* parent) : InputBoxBase(parent) {
    setObjectName(QStringLiteral("InputBoxListFrm"));
    ListBox = new ListComboBox(this);
    ListBox->setObjectName(QStringLiteral("ListBox"));
    buildControls(ListBox);
    resize(platform::twipsToPixelsX(5400), platform::twipsToPixelsY(4200));
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
