#include "Prompts.h"

#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace platform {

namespace {

PromptScript* activeScript = nullptr;

QWidget* dialogParent() {
    return QApplication::activeWindow();
}

QString titleOrApp(const QString& title) {
    return title.isEmpty() ? appTitle() : title;
}

// The answers of the buttons of each button set, left to right.
std::vector<int> buttonAnswers(int buttons) {
    switch (buttons) {
        case vbOKCancel:
            return {vbOK, vbCancel};
        case vbAbortRetryIgnore:
            return {vbAbort, vbRetry, vbIgnore};
        case vbYesNoCancel:
            return {vbYes, vbNo, vbCancel};
        case vbYesNo:
            return {vbYes, vbNo};
        case vbRetryCancel:
            return {vbRetry, vbCancel};
        default:
            return {vbOK};
    }
}

// What closing the box without choosing gives: its Cancel, else the answer that does nothing harmful.
int cancelAnswer(int buttons) {
    switch (buttons) {
        case vbOKOnly:
            return vbOK;
        case vbAbortRetryIgnore:
            return vbAbort;
        case vbYesNo:
            return vbNo;
        default:
            return vbCancel;
    }
}

PromptRequest messageRequest(const QString& text, int style, const QString& title) {
    PromptRequest r;
    r.kind = PromptKind::Message;
    r.text = text;
    r.title = titleOrApp(title);
    r.style = style;
    r.buttons = style & 7;
    r.icon = style & 0x70;
    r.defaultButton = ((style >> 8) & 3) + 1;
    const int n = int(buttonAnswers(r.buttons).size());
    if (r.defaultButton > n) r.defaultButton = 1;
    return r;
}

// Carriage returns break lines as they did on the original platform.
QString lineBreaks(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QMessageBox::StandardButton qtButton(int answer) {
    switch (answer) {
        case vbOK:
            return QMessageBox::Ok;
        case vbCancel:
            return QMessageBox::Cancel;
        case vbAbort:
            return QMessageBox::Abort;
        case vbRetry:
            return QMessageBox::Retry;
        case vbIgnore:
            return QMessageBox::Ignore;
        case vbYes:
            return QMessageBox::Yes;
        case vbNo:
            return QMessageBox::No;
        default:
            return QMessageBox::NoButton;
    }
}

int showMessageBox(const PromptRequest& r) {
    QMessageBox box(dialogParent());
    box.setWindowTitle(r.title);
    box.setText(lineBreaks(r.text));
    switch (r.icon) {
        case vbCritical:
            box.setIcon(QMessageBox::Critical);
            break;
        case vbQuestion:
            box.setIcon(QMessageBox::Question);
            break;
        case vbExclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case vbInformation:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            box.setIcon(QMessageBox::NoIcon);
            break;
    }
    const std::vector<int> answers = buttonAnswers(r.buttons);
    std::vector<QAbstractButton*> buttons;
    for (int a : answers) buttons.push_back(box.addButton(qtButton(a)));
    box.setDefaultButton(static_cast<QPushButton*>(buttons[size_t(r.defaultButton - 1)]));
    const int cancel = cancelAnswer(r.buttons);
    for (size_t i = 0; i < answers.size(); ++i)
        if (answers[i] == cancel) box.setEscapeButton(buttons[i]);
    box.exec();
    for (size_t i = 0; i < answers.size(); ++i)
        if (box.clickedButton() == buttons[i]) return answers[i];
    return cancel;
}

// Classic "Name|*.a;*.b|..." pairs become Qt's "Name (*.a *.b);;...".
QString qtFilter(const QString& filter) {
    if (!filter.contains(QLatin1Char('|'))) return filter;
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        patterns.replace(QLatin1String("*.*"), QLatin1String("*"));
        out << parts[i] + QLatin1String(" (") + patterns + QLatin1Char(')');
    }
    return out.join(QLatin1String(";;"));
}

QString showFileDialog(const PromptRequest& r) {
    QFileDialog dlg(dialogParent(), r.title);
    dlg.setAcceptMode(r.kind == PromptKind::SaveFile ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.setFileMode(r.kind == PromptKind::SaveFile ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, !r.confirmOverwrite);
    QString filter = qtFilter(r.filter);
    const QFileInfo initial(r.initialFile);
    const bool wildcard =
        r.initialFile.contains(QLatin1Char('*')) || r.initialFile.contains(QLatin1Char('?'));
    if (!r.initialFile.isEmpty() && initial.path() != QLatin1String(".")) dlg.setDirectory(initial.path());
    if (wildcard) {
        if (filter.isEmpty()) filter = initial.fileName();
    } else if (!r.initialFile.isEmpty()) {
        dlg.selectFile(initial.fileName());
    }
    if (!filter.isEmpty()) dlg.setNameFilter(filter);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
    return dlg.selectedFiles().constFirst();
}

// While a prompt waits for the user the pointer is the normal one, even when a tool running behind it
// shows the hourglass for the whole application.
class NormalPointer {
public:
    NormalPointer() : set_(QGuiApplication::overrideCursor() != nullptr) {
        if (set_) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~NormalPointer() {
        if (set_) QGuiApplication::restoreOverrideCursor();
    }
    NormalPointer(const NormalPointer&) = delete;
    NormalPointer& operator=(const NormalPointer&) = delete;

private:
    bool set_;
};

Qt::CursorShape pointerShape() {
    const QCursor* c = QGuiApplication::overrideCursor();
    return c ? c->shape() : Qt::ArrowCursor;
}

QString ask(PromptRequest r) {
    const NormalPointer pointer;
    r.pointer = pointerShape();
    if (activeScript) return activeScript->textPrompt(std::move(r));
    switch (r.kind) {
        case PromptKind::Input: {
            bool ok = false;
            const QString text = QInputDialog::getText(dialogParent(), r.title, lineBreaks(r.text),
                                                       r.masked ? QLineEdit::Password : QLineEdit::Normal, r.defaultText, &ok);
            return ok ? text : QString();
        }
        case PromptKind::Folder:
            return QFileDialog::getExistingDirectory(dialogParent(), r.title, QString(),
                                                     QFileDialog::ShowDirsOnly);
        default:
            return showFileDialog(r);
    }
}

}  // namespace

QString appTitle() {
    const QString name = QApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("Tabulon") : name;
}

int MsgBox(const QString& text, int style, const QString& title) {
    PromptRequest r = messageRequest(text, style, title);
    const NormalPointer pointer;
    r.pointer = pointerShape();
    if (activeScript) return activeScript->messageBox(std::move(r));
    return showMessageBox(r);
}

QString InputBox(const QString& prompt, const QString& title, const QString& defaultText) {
    PromptRequest r;
    r.kind = PromptKind::Input;
    r.text = prompt;
    r.title = titleOrApp(title);
    r.defaultText = defaultText;
    return ask(std::move(r));
}

QString PasswordBox(const QString& prompt, const QString& title) {
    PromptRequest r;
    r.kind = PromptKind::Input;
    r.text = prompt;
    r.title = titleOrApp(title);
    r.masked = true;
    return ask(std::move(r));
}

static QString fileDialog(PromptKind kind, const QString& title, const QString& initialFile,
                          const QString& filter) {
    PromptRequest r;
    r.kind = kind;
    r.title = titleOrApp(title);
    r.initialFile = initialFile;
    r.filter = filter;
    // A file chosen to be written over is asked about first: it may hold data kept nowhere else.
    r.confirmOverwrite = kind == PromptKind::SaveFile;
    return ask(std::move(r));
}

QString OpenFileDialog(const QString& title, const QString& initialFile, const QString& filter) {
    return fileDialog(PromptKind::OpenFile, title, initialFile, filter);
}

QString SaveFileDialog(const QString& title, const QString& initialFile, const QString& filter) {
    return fileDialog(PromptKind::SaveFile, title, initialFile, filter);
}

QString BrowseFolderDialog(const QString& title) {
    PromptRequest r;
    r.kind = PromptKind::Folder;
    r.title = titleOrApp(title);
    return ask(std::move(r));
}

// ---- PromptScript

PromptScript::PromptScript() : previous_(activeScript) {
    activeScript = this;
}

PromptScript::~PromptScript() {
    // Scripts end in reverse order of their start; be safe if one is left out of order.
    if (activeScript == this) activeScript = previous_;
}

PromptScript& PromptScript::answer(int button) {
    queue_.push_back(Answer{button, std::nullopt, false});
    return *this;
}

PromptScript& PromptScript::answer(const QString& text) {
    queue_.push_back(Answer{std::nullopt, text, false});
    return *this;
}

PromptScript& PromptScript::cancel() {
    queue_.push_back(Answer{std::nullopt, std::nullopt, true});
    return *this;
}

int PromptScript::messageBox(PromptRequest req) {
    req.answer = buttonAnswers(req.buttons)[size_t(req.defaultButton - 1)];
    if (!queue_.empty() && (queue_.front().button || queue_.front().cancel)) {
        req.answer = queue_.front().button ? *queue_.front().button : cancelAnswer(req.buttons);
        req.scripted = true;
        queue_.pop_front();
    }
    requests_.push_back(req);
    return req.answer;
}

QString PromptScript::textPrompt(PromptRequest req) {
    if (!queue_.empty() && (queue_.front().text || queue_.front().cancel)) {
        req.textAnswer = queue_.front().text.value_or(QString());
        req.scripted = true;
        queue_.pop_front();
    }
    requests_.push_back(req);
    return req.textAnswer;
}

}  // namespace platform
