#include "MaskedEdit.h"

#include <QKeyEvent>

namespace platform {

namespace {

constexpr int kNoLimit = 32767;

// QLineEdit's input mask cannot hold a literal ';' (it ends the mask), so a look-alike stands in
// for it in the input and is turned back on reading.
constexpr QChar kSemicolonStandIn = QChar(0x037E);

// Characters that QLineEdit's input mask would read as placeholders or directives.
bool isQtMaskChar(QChar c) {
    static const QString chars = QStringLiteral("AaNnXx90Dd#HhBb><!\\[]{}");
    return chars.contains(c);
}

struct Translation {
    QString qtMask;
    std::vector<QChar> placeholder;
    bool semicolon = false;
};

Translation translate(const QString& mask) {
    Translation t;
    for (int i = 0; i < mask.size(); ++i) {
        QChar c = mask[i];
        QChar placeholder;
        switch (c.unicode()) {
            case '#':
                placeholder = QLatin1Char('9');
                break;
            case '9':
                placeholder = QLatin1Char('0');
                break;
            case '?':
                placeholder = QLatin1Char('A');
                break;
            case 'A':
                placeholder = QLatin1Char('N');
                break;
            case 'a':
                placeholder = QLatin1Char('n');
                break;
            case '&':
                placeholder = QLatin1Char('X');
                break;
            case 'C':
                placeholder = QLatin1Char('x');
                break;
            case '>':
            case '<':
                t.qtMask += c;
                continue;
            case '\\':
                if (i + 1 < mask.size()) c = mask[++i];
                break;
            default:
                break;
        }
        if (!placeholder.isNull()) {
            t.qtMask += placeholder;
            t.placeholder.push_back(c);
            continue;
        }
        if (c == QLatin1Char(';')) {
            t.qtMask += kSemicolonStandIn;
            t.semicolon = true;
        } else {
            if (isQtMaskChar(c)) t.qtMask += QLatin1Char('\\');
            t.qtMask += c;
        }
        t.placeholder.push_back(QChar());
    }
    t.qtMask += QLatin1Char(';');
    t.qtMask += MaskedEdit::PromptChar;
    return t;
}

bool fits(QChar c, QChar placeholder) {
    switch (placeholder.unicode()) {
        case '#':
        case '9':
            return c.isDigit();
        case '?':
            return c.isLetter();
        case 'A':
        case 'a':
            return c.isLetterOrNumber();
        default:
            return c.isPrint();
    }
}

}  // namespace

MaskedEdit::MaskedEdit(QWidget* parent) : QLineEdit(parent) {
    QLineEdit::setMaxLength(kNoLimit);
}

QString MaskedEdit::toInput(const QString& text) const {
    if (!hasSemicolon_) return text;
    QString s = text;
    s.replace(QLatin1Char(';'), kSemicolonStandIn);
    return s;
}

QString MaskedEdit::fromDisplay(const QString& display) const {
    if (!hasSemicolon_) return display;
    QString s = display;
    for (int i = 0; i < s.size() && size_t(i) < placeholder_.size(); ++i)
        if (placeholder_[size_t(i)].isNull() && s[i] == kSemicolonStandIn) s[i] = QLatin1Char(';');
    return s;
}

QString MaskedEdit::Text() const {
    return hasMask() ? fromDisplay(displayText()) : QLineEdit::text();
}

void MaskedEdit::setText(const QString& text) {
    if (!hasMask()) {
        QLineEdit::setText(text);
        return;
    }
    QLineEdit::setText(toInput(text));
    // The caret waits at the first position still to fill, so that typing goes on from there.
    const QString shown = displayText();
    int pos = 0;
    while (pos < shown.size() && size_t(pos) < placeholder_.size() &&
           (placeholder_[size_t(pos)].isNull() || shown[pos] != PromptChar))
        ++pos;
    setCursorPosition(pos);
}

QString MaskedEdit::ClipText() const {
    if (!hasMask()) return QLineEdit::text();
    const QString shown = displayText();
    QString out;
    for (int i = 0; i < shown.size() && size_t(i) < placeholder_.size(); ++i)
        if (!placeholder_[size_t(i)].isNull() && shown[i] != PromptChar) out += shown[i];
    return out;
}

void MaskedEdit::setMask(const QString& mask) {
    if (mask == mask_) return;
    const QString old = Text();
    mask_ = mask;
    if (mask.isEmpty()) {
        placeholder_.clear();
        hasSemicolon_ = false;
        QLineEdit::setInputMask(QString());  // clears the text and the length limit
        QLineEdit::setMaxLength(maxLength_ > 0 ? maxLength_ : kNoLimit);
        QLineEdit::setText(old);
        return;
    }
    const Translation t = translate(mask);
    placeholder_ = t.placeholder;
    hasSemicolon_ = t.semicolon;
    QLineEdit::setInputMask(t.qtMask);
    setText(old);
}

void MaskedEdit::keyPressEvent(QKeyEvent* event) {
    // A character that does not fit the next position to fill is refused there, instead of being
    // carried on to a later position that takes it. A typed literal still steps to its position.
    const QString typed = event->text();
    if (hasMask() && typed.size() == 1 && typed[0].isPrint() &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        const QChar c = typed[0];
        int pos = hasSelectedText() ? selectionStart() : cursorPosition();
        const int n = int(placeholder_.size());
        const QString shown = fromDisplay(displayText());
        bool typedLiteral = false;
        for (int i = pos; i < n && i < shown.size() && !typedLiteral; ++i)
            typedLiteral = placeholder_[size_t(i)].isNull() && shown[i] == c;
        while (pos < n && placeholder_[size_t(pos)].isNull()) ++pos;
        if (!typedLiteral && (pos >= n || !fits(c, placeholder_[size_t(pos)]))) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

int MaskedEdit::MaxLength() const {
    return hasMask() ? int(placeholder_.size()) : maxLength_;
}

void MaskedEdit::setMaxLength(int length) {
    maxLength_ = length > 0 ? length : 0;
    if (!hasMask()) QLineEdit::setMaxLength(maxLength_ > 0 ? maxLength_ : kNoLimit);
}

int MaskedEdit::SelStart() const {
    return hasSelectedText() ? selectionStart() : cursorPosition();
}

void MaskedEdit::setSelStart(int start) {
    deselect();
    setCursorPosition(qBound(0, start, int(displayText().size())));
}

int MaskedEdit::SelLength() const {
    return hasSelectedText() ? int(selectedText().size()) : 0;
}

void MaskedEdit::setSelLength(int length) {
    const int start = SelStart();
    const int len = qBound(0, length, int(displayText().size()) - start);
    if (len == 0) {
        setSelStart(start);
    } else {
        setSelection(start, len);
    }
}

}  // namespace platform
