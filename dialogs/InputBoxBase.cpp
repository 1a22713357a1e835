#include "InputBoxBase.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

#include "common/StandarFunctions.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"

namespace dialogs {

namespace {
constexpr int ButtonWidth = 1095;
constexpr int ButtonHeight = 375;
constexpr int IconSize = 480;
}  // namespace

InputBoxBase::InputBoxBase(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("InputBox"));
    move(platform::twipsToPixelsX(DesignLeft), platform::twipsToPixelsY(DesignTop));
}

void InputBoxBase::buildControls(QWidget* listBox) {
    FormText = new QLabel(this);
    FormText->setObjectName(QStringLiteral("FormText"));
    QFont bold = FormText->font();
    bold.setBold(true);
    FormText->setFont(bold);
    FormText->setWordWrap(true);
    DescriptionLbl = new QLabel(this);
    DescriptionLbl->setObjectName(QStringLiteral("DescriptionLbl"));
    DescriptionLbl->setWordWrap(true);
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    const int icon = platform::twipsToPixelsX(IconSize);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(icon, icon));
    Image1->setFixedSize(icon, icon);

    auto makeButton = [&](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setMinimumSize(platform::twipsToPixelsX(ButtonWidth), platform::twipsToPixelsY(ButtonHeight));
        return b;
    };
    Okbtn = makeButton("Okbtn", QStringLiteral("&OK"));
    CancelBtn = makeButton("CancelBtn", QStringLiteral("&Cancel"));
    Okbtn->setDefault(true);

    auto* texts = new QVBoxLayout;
    texts->addWidget(FormText);
    texts->addWidget(DescriptionLbl);
    texts->addWidget(listBox, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Okbtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);

    connect(Okbtn, &QPushButton::clicked, this, &InputBoxBase::ok);
    connect(CancelBtn, &QPushButton::clicked, this, &InputBoxBase::cancel);
    resize(platform::twipsToPixelsX(5400), sizeHint().height());
}

void InputBoxBase::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) place();
}

void InputBoxBase::place() {
    if (Xpos == 0 && Ypos == 0) {
        common::CenterForm(this);
        return;
    }
    // A coordinate of 0 keeps the design position on that axis.
    const int x = Xpos != 0 ? platform::twipsToPixelsX(Xpos) : platform::twipsToPixelsX(DesignLeft);
    const int y = Ypos != 0 ? platform::twipsToPixelsY(Ypos) : platform::twipsToPixelsY(DesignTop);
    move(x, y);
}

void InputBoxBase::ok() {
    const QString text = listText();
    if (EntryOnlyFromList && !listEntries().contains(text, Qt::CaseSensitive)) {
        platform::MsgBox(QStringLiteral("This record is not on the list!"), platform::vbExclamation);
        return;
    }
    ReturnValue = text;
    accept();
}

void InputBoxBase::cancel() {
    reject();
}

void InputBoxBase::reject() {
    if (ReturnNegative) ReturnValue = QStringLiteral("-1");
    QDialog::reject();
}

}  // namespace dialogs
