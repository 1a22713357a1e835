#include "LikePattern.h"

namespace dialogs {

namespace {

// Matches one character against the class starting after '[' at pattern[p]; sets `end` to the
// index after ']'. False with end = -1 when the class is not closed.
bool classMatch(const QString& pattern, qsizetype p, QChar c, qsizetype& end) {
    bool negate = false;
    if (p < pattern.size() && pattern[p] == u'!') {
        negate = true;
        ++p;
    }
    bool found = false;
    bool first = true;
    while (p < pattern.size() && (pattern[p] != u']' || first)) {
        first = false;
        QChar lo = pattern[p];
        QChar hi = lo;
        if (p + 2 < pattern.size() && pattern[p + 1] == u'-' && pattern[p + 2] != u']') {
            hi = pattern[p + 2];
            p += 3;
        } else {
            ++p;
        }
        if (c >= lo && c <= hi) found = true;
    }
    if (p >= pattern.size()) {
        end = -1;
        return false;
    }
    end = p + 1;
    return found != negate;
}

}  // namespace

bool likeMatch(const QString& text, const QString& pattern) {
    qsizetype t = 0, p = 0;
    qsizetype starP = -1, starT = 0;  // where to resume after the last '*'
    while (t < text.size()) {
        bool advanced = false;
        if (p < pattern.size()) {
            const QChar pc = pattern[p];
            if (pc == u'*') {
                starP = ++p;
                starT = t;
                continue;
            }
            if (pc == u'?') {
                ++p;
                ++t;
                advanced = true;
            } else if (pc == u'#') {
                if (text[t].isDigit()) {
                    ++p;
                    ++t;
                    advanced = true;
                }
            } else if (pc == u'[') {
                qsizetype end = 0;
                const bool ok = classMatch(pattern, p + 1, text[t], end);
                if (end < 0) return false;
                if (ok) {
                    p = end;
                    ++t;
                    advanced = true;
                }
            } else if (pc == text[t]) {
                ++p;
                ++t;
                advanced = true;
            }
        }
        if (advanced) continue;
        if (starP < 0) return false;
        p = starP;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

}  // namespace dialogs
