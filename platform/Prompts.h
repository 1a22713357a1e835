#pragma once

// The prompt seams: every message box, input box, file dialog and folder dialog of the program goes
// through these functions, so that tests can answer them (PromptScript) and read back what was asked.
// Nothing else opens QMessageBox, QInputDialog or QFileDialog directly.

#include <QString>
#include <deque>
#include <qnamespace.h>
#include <optional>
#include <vector>

class QWidget;

namespace platform {

// Buttons, icon and default button of a message box, added together as in the classic style argument.
enum MsgBoxStyle : int {
    vbOKOnly = 0,
    vbOKCancel = 1,
    vbAbortRetryIgnore = 2,
    vbYesNoCancel = 3,
    vbYesNo = 4,
    vbRetryCancel = 5,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
    vbDefaultButton1 = 0,
    vbDefaultButton2 = 256,
    vbDefaultButton3 = 512,
};

// The button the user chose.
enum MsgBoxResult : int {
    vbOK = 1,
    vbCancel = 2,
    vbAbort = 3,
    vbRetry = 4,
    vbIgnore = 5,
    vbYes = 6,
    vbNo = 7
};

// The application's title, used when a prompt is given no title.
QString appTitle();

// Shows a message box and returns the chosen button (MsgBoxResult). Carriage returns in the text
// (alone or before a line feed) break the line. An empty title gives the application's title.
// Closing the box without a button gives the answer of its Cancel button (or of its only button).
int MsgBox(const QString& text, int style = vbOKOnly, const QString& title = QString());

// Asks for one line of text; empty when the user cancels. An empty title gives the application's title.
QString InputBox(const QString& prompt, const QString& title = QString(),
                 const QString& defaultText = QString());

// Asks for a password: the same as InputBox, with the typed characters hidden.
QString PasswordBox(const QString& prompt, const QString& title = QString());

// File dialogs: the chosen path, or an empty string when the user cancels (a chosen path is never
// empty). The filter takes Qt's form ("Text (*.txt);;All (*)") or the classic "Text|*.txt|All|*.*".
// An initial file name with wildcards ("*.mdb") filters the listing instead of naming a file.
// The save dialog asks before an existing file is chosen to be replaced (the standard question).
QString OpenFileDialog(const QString& title, const QString& initialFile = QString(),
                       const QString& filter = QString());
QString SaveFileDialog(const QString& title, const QString& initialFile = QString(),
                       const QString& filter = QString());

// The folder browser: the chosen folder's path, or an empty string when the user cancels.
QString BrowseFolderDialog(const QString& title);

// All prompts are parented to the application's active window.

enum class PromptKind { Message, Input, OpenFile, SaveFile, Folder };

// One prompt as it was asked.
struct PromptRequest {
    PromptKind kind = PromptKind::Message;
    QString text;           // message text or input prompt (as given)
    QString title;          // as shown: an empty title is already replaced by the application's title
    int style = 0;          // message box: the whole style value
    int buttons = 0;        // message box: vbOKOnly .. vbRetryCancel
    int icon = 0;           // message box: 0, vbCritical, vbQuestion, vbExclamation or vbInformation
    int defaultButton = 1;  // message box: 1, 2 or 3
    QString defaultText;    // input box
    bool masked = false;    // input box: a password box (what is typed is not shown)
    QString initialFile;    // file dialogs
    QString filter;         // file dialogs, as given
    bool confirmOverwrite = false;  // save dialog: choosing an existing file asks before replacing it
    bool scripted = false;  // a scripted answer was used (false: the default answer was given)
    Qt::CursorShape pointer = Qt::ArrowCursor;  // the application's pointer while the prompt waited
    int answer = 0;         // message box: the answer given
    QString textAnswer;     // the other prompts: the answer given ("" = cancelled)
};

// For tests: while alive, prompts are not shown but answered from a queue, in order, and recorded.
// A message box takes the next answer if it is a button; a text prompt takes it if it is a text or a
// cancel. A prompt with no fitting answer at the head of the queue leaves the queue as it is and gets
// its default: the message box's default button, or cancel (empty) for the other prompts.
// Scripts nest: the newest one answers, and the previous one is back when it ends.
class PromptScript {
public:
    PromptScript();
    ~PromptScript();
    PromptScript(const PromptScript&) = delete;
    PromptScript& operator=(const PromptScript&) = delete;

    PromptScript& answer(int button);           // next message box
    PromptScript& answer(const QString& text);  // next input box / file / folder prompt
    PromptScript& cancel();                     // next text prompt (or message box: its Cancel)

    const std::vector<PromptRequest>& requests() const { return requests_; }
    int count() const { return int(requests_.size()); }
    const PromptRequest& last() const { return requests_.back(); }
    int pendingAnswers() const { return int(queue_.size()); }
    void clear() { requests_.clear(); }

    // Used by the seams.
    int messageBox(PromptRequest req);
    QString textPrompt(PromptRequest req);

private:
    struct Answer {
        std::optional<int> button;
        std::optional<QString> text;
        bool cancel = false;
    };
    std::deque<Answer> queue_;
    std::vector<PromptRequest> requests_;
    PromptScript* previous_;
};

}  // namespace platform
