#pragma once

// A text input with the classic edit masks:
//   #  digit            9  digit, optional      ?  letter
//   A  letter or digit  a  letter or digit, optional
//   &  any character    C  any character, optional
//   >  upper case from here on    <  lower case from here on
//   \  the next character is literal
// Every other character ('.', ',', ':', '/', '-', '(' ...) is a literal that the user types over.
//
// With a mask, Text() reads every position: literals as they stand, typed characters, and the
// prompt character '_' where nothing has been typed ("##/##/####" typed 3112 reads "31/12/____";
// untouched it reads "__/__/____"). ClipText() gives only what was typed. setText() fills the
// positions from the start; it takes the text with or without its literals ("31/12/2020" and
// "31122020" both fill the date mask), '_' leaves a position empty, and the caret is put at the
// first empty position. A typed character that does not fit the next position to fill is refused;
// typing a literal of the mask steps past it. Optional positions ('9', 'a', 'C') take the same
// characters as the required ones; nothing forces a required position to be filled.
// setText and setMaxLength hide QLineEdit's own: call them on a MaskedEdit.
// Without a mask the input is free text, limited to MaxLength characters when MaxLength is not 0.

#include <QLineEdit>
#include <QString>
#include <vector>

namespace platform {

class MaskedEdit : public QLineEdit {
    Q_OBJECT
public:
    static constexpr QChar PromptChar = QLatin1Char('_');

    explicit MaskedEdit(QWidget* parent = nullptr);

    QString Text() const;
    void setText(const QString& text);

    // The typed characters only, without literals and prompts.
    QString ClipText() const;

    QString Mask() const { return mask_; }
    // The text as it read is put through the new mask. Removing the mask keeps the text as it read.
    void setMask(const QString& mask);
    bool hasMask() const { return !mask_.isEmpty(); }

    // 0 = no limit. With a mask the length is the mask's number of positions; the value set here
    // applies again when the mask is removed.
    int MaxLength() const;
    void setMaxLength(int length);

    // Caret and selection in characters from the start of the text.
    int SelStart() const;
    void setSelStart(int start);
    int SelLength() const;
    void setSelLength(int length);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString toInput(const QString& text) const;
    QString fromDisplay(const QString& display) const;

    QString mask_;
    int maxLength_ = 0;
    std::vector<QChar> placeholder_;  // per position of the masked text; null for a literal
    bool hasSemicolon_ = false;
};

}  // namespace platform
