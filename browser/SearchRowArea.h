#pragma once

// The browser's scrollable search rows: the picture box Picture1 holding the inner area
// ControlsPlataForm, which carries one row per field (SearchSelect(i) field combo, SearchBox(i)
// value box, ClearBtn(i)), 1000 twips apart, and the vertical scroll bar SearchScroll that moves
// the inner area up.

#include <QFrame>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace browser {

class SearchRowArea : public QFrame {
    Q_OBJECT
public:
    static constexpr int RowStepTwips = 1000;

    explicit SearchRowArea(QWidget* parent);

    int rowCount() const { return int(selects_.size()); }
    // Adds rows after the last until there are `n` (row 0 always exists); each new row copies the
    // place of the one above it, 1000 twips lower, and follows it in the tab order.
    void ensureRows(int n);

    QComboBox* select(int i) const { return selects_.at(i); }
    QLineEdit* box(int i) const { return boxes_.at(i); }
    QPushButton* clearBtn(int i) const { return clears_.at(i); }
    QWidget* plataForm() const { return plataForm_; }
    QScrollBar* scroll() const { return scroll_; }

    // The inner area's height, and the scroll bar's range from 0 to it.
    void setAreaHeightTwips(double twips);

signals:
    void valueChanged(int row);
    void clearClicked(int row);

protected:
    void wheelEvent(QWheelEvent* event) override;

private:
    void addRow();
    void nameForScreenReaders(QComboBox* select, QLineEdit* box, QPushButton* clear, int row);
    QWidget* plataForm_;
    QScrollBar* scroll_;
    std::vector<QComboBox*> selects_;
    std::vector<QLineEdit*> boxes_;
    std::vector<QPushButton*> clears_;
};

}  // namespace browser
