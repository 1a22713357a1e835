#include "ListComboBox.h"

#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

namespace dialogs {

ListComboBox::ListComboBox(QWidget* parent) : QFrame(parent) {
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("Text"));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("List"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(edit_);
    layout->addWidget(list_, 1);
    setFocusProxy(edit_);
    connect(list_, &QListWidget::currentTextChanged, this, [this](const QString& t) {
        if (list_->currentItem()) edit_->setText(t);
    });
    connect(list_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        edit_->setText(item->text());
        emit entryDoubleClicked();
    });
}

void ListComboBox::addItem(const QString& text) {
    list_->addItem(text);
}

void ListComboBox::addItems(const QStringList& texts) {
    list_->addItems(texts);
}

void ListComboBox::clear() {
    list_->clear();
}

int ListComboBox::count() const {
    return list_->count();
}

QString ListComboBox::itemText(int index) const {
    const QListWidgetItem* item = list_->item(index);
    return item ? item->text() : QString();
}

QString ListComboBox::text() const {
    return edit_->text();
}

void ListComboBox::setText(const QString& text) {
    edit_->setText(text);
}

}  // namespace dialogs
