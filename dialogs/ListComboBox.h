#pragma once

// A combo box whose entries are always shown as a list under its text part (the "simple" combo
// style): clicking an entry puts it into the text, double-clicking it is reported.

#include <QFrame>
#include <QString>

class QLineEdit;
class QListWidget;

namespace dialogs {

class ListComboBox : public QFrame {
    Q_OBJECT
public:
    explicit ListComboBox(QWidget* parent = nullptr);

    void addItem(const QString& text);
    void addItems(const QStringList& texts);
    void clear();
    int count() const;
    QString itemText(int index) const;

    QString text() const;
    void setText(const QString& text);

    QLineEdit* lineEdit() const { return edit_; }
    QListWidget* listWidget() const { return list_; }

signals:
    void entryDoubleClicked();

private:
    QLineEdit* edit_;
    QListWidget* list_;
};

}  // namespace dialogs
