#pragma once

#include <QString>

namespace dialogs {

// The program's own pattern match, case-sensitive: '*' any run of characters, '?' one character,
// '#' one digit, "[abc]" / "[a-z]" a character of the class, "[!...]" one not in it. A pattern with
// an unclosed '[' matches nothing.
bool likeMatch(const QString& text, const QString& pattern);

}  // namespace dialogs
