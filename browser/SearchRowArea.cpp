#include "SearchRowArea.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>

#include "platform/Twips.h"

namespace browser {

namespace {

using platform::pixelsToTwipsY;
using platform::twipsToPixelsX;
using platform::twipsToPixelsY;

QRect twipsRect(double left, double top, double width, double height) {
    return QRect(twipsToPixelsX(left), twipsToPixelsY(top), twipsToPixelsX(width), twipsToPixelsY(height));
}

constexpr double kAreaWidth = 3060, kAreaHeight = 4065, kScrollWidth = 255;

}  // namespace

SearchRowArea::SearchRowArea(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("Picture1"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    resize(twipsToPixelsX(kAreaWidth), twipsToPixelsY(kAreaHeight));

    // The inner area is clipped by Picture1's contents; the scroll bar sits on its right edge.
    plataForm_ = new QWidget(this);
    plataForm_->setObjectName(QStringLiteral("ControlsPlataForm"));
    plataForm_->setGeometry(twipsRect(0, 0, kAreaWidth - kScrollWidth - 30, kAreaHeight));

    scroll_ = new QScrollBar(Qt::Vertical, this);
    scroll_->setObjectName(QStringLiteral("SearchScroll"));
    scroll_->setGeometry(twipsRect(kAreaWidth - kScrollWidth - 30, 0, kScrollWidth, kAreaHeight - 30));
    scroll_->setRange(0, 0);
    scroll_->setSingleStep(100);
    scroll_->setPageStep(RowStepTwips);
    connect(scroll_, &QScrollBar::valueChanged, this,
            [this](int v) { plataForm_->move(plataForm_->x(), -twipsToPixelsY(v)); });

    auto* select = new QComboBox(plataForm_);
    select->setGeometry(twipsRect(45, 90, 2595, 315));
    auto* box = new QLineEdit(plataForm_);
    box->setGeometry(twipsRect(30, 465, 2310, 330));
    auto* clear = new QPushButton(QStringLiteral("X"), plataForm_);
    clear->setGeometry(twipsRect(2370, 450, 300, 330));
    selects_.push_back(select);
    boxes_.push_back(box);
    clears_.push_back(clear);
    select->setObjectName(QStringLiteral("SearchSelect(0)"));
    box->setObjectName(QStringLiteral("SearchBox(0)"));
    clear->setObjectName(QStringLiteral("ClearBtn(0)"));
    clear->setFocusPolicy(Qt::NoFocus);
    connect(box, &QLineEdit::textChanged, this, [this] { emit valueChanged(0); });
    connect(clear, &QPushButton::clicked, this, [this] { emit clearClicked(0); });
    nameForScreenReaders(select, box, clear, 0);
}

// A screen reader names the row's inputs by the field chosen in it.
void SearchRowArea::nameForScreenReaders(QComboBox* select, QLineEdit* box, QPushButton* clear, int row) {
    select->setAccessibleName(QStringLiteral("Search field %1").arg(row + 1));
    clear->setAccessibleName(QStringLiteral("Clear search value %1").arg(row + 1));
    auto nameBox = [select, box, row] {
        const QString field = select->currentText();
        box->setAccessibleName(field.isEmpty() ? QStringLiteral("Search value %1").arg(row + 1)
                                               : QStringLiteral("Search %1").arg(field));
    };
    nameBox();
    connect(select, &QComboBox::currentTextChanged, box, nameBox);
}

void SearchRowArea::ensureRows(int n) {
    while (rowCount() < n) addRow();
}

void SearchRowArea::addRow() {
    const int i = rowCount();
    const int step = twipsToPixelsY(RowStepTwips);
    QComboBox* prevSelect = selects_.back();
    QLineEdit* prevBox = boxes_.back();
    QPushButton* prevClear = clears_.back();

    auto* select = new QComboBox(plataForm_);
    select->setObjectName(QStringLiteral("SearchSelect(%1)").arg(i));
    select->setGeometry(prevSelect->geometry().translated(0, step));
    auto* box = new QLineEdit(plataForm_);
    box->setObjectName(QStringLiteral("SearchBox(%1)").arg(i));
    box->setGeometry(prevBox->geometry().translated(0, step));
    auto* clear = new QPushButton(prevClear->text(), plataForm_);
    clear->setObjectName(QStringLiteral("ClearBtn(%1)").arg(i));
    clear->setGeometry(prevClear->geometry().translated(0, step));
    // Clear buttons stay out of the tab order, so Tab runs field, value, field, value...
    clear->setFocusPolicy(Qt::NoFocus);

    QWidget::setTabOrder(prevBox, select);
    QWidget::setTabOrder(select, box);
    select->show();
    box->show();
    clear->show();

    selects_.push_back(select);
    boxes_.push_back(box);
    clears_.push_back(clear);
    connect(box, &QLineEdit::textChanged, this, [this, i] { emit valueChanged(i); });
    connect(clear, &QPushButton::clicked, this, [this, i] { emit clearClicked(i); });
    nameForScreenReaders(select, box, clear, i);
}

void SearchRowArea::setAreaHeightTwips(double twips) {
    plataForm_->resize(plataForm_->width(), twipsToPixelsY(twips));
    scroll_->setRange(0, int(twips));
}

void SearchRowArea::wheelEvent(QWheelEvent* event) {
    // The wheel anywhere over the rows scrolls them, not only over the bar.
    scroll_->setValue(scroll_->value() - event->angleDelta().y() / 120 * RowStepTwips / 2);
    event->accept();
}

}  // namespace browser
