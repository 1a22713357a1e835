#include "SqliteFunctions.h"

#include <sqlite3.h>

#include <QChar>
#include <QDateTime>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Conversions.h"
#include "FieldTypes.h"
#include "Variant.h"

namespace dao {

namespace {

// ---- Unicode folding ---------------------------------------------------------------------------

char32_t foldCase(char32_t c) {
    if (c < 128) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    return QChar::toCaseFolded(c);
}

// The base letter of an accented letter (é -> e), already case-folded.
char32_t baseLetter(char32_t c) {
    if (c < 128) return foldCase(c);
    if (QChar::decompositionTag(c) == QChar::Canonical) {
        const QString d = QChar::decomposition(c);
        if (!d.isEmpty()) return foldCase(d.at(0).unicode());
    }
    return foldCase(c);
}

// Decodes UTF-8 (lenient: a bad byte reads as U+FFFD) into code points.
void decodeUtf8(const unsigned char* s, int n, std::u32string& out) {
    out.clear();
    out.reserve(size_t(n));
    int i = 0;
    while (i < n) {
        unsigned char c = s[i];
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        int len = (c >= 0xF0) ? 4 : (c >= 0xE0) ? 3 : (c >= 0xC0) ? 2 : 0;
        if (len == 0 || i + len > n) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        char32_t cp = c & (0xFF >> (len + 1));
        bool ok = true;
        for (int k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        out.push_back(ok ? cp : 0xFFFD);
        i += ok ? len : 1;
    }
}

// The non-ASCII characters whose case folding is ASCII (the Kelvin sign, the long s): the only ones
// through which an ASCII literal can match text that does not hold it byte for byte. Their UTF-8
// forms, and the ASCII letters they fold to.
struct FoldingToAscii {
    std::vector<std::string> forms;
    std::string targets;
};

const FoldingToAscii& foldingToAscii() {
    static const FoldingToAscii f = [] {
        FoldingToAscii out;
        for (char32_t c = 0x80; c < 0x110000; ++c) {
            if (c >= 0xD800 && c < 0xE000) continue;
            const char32_t folded = QChar::toCaseFolded(c);
            if (folded >= 128) continue;
            const QByteArray utf8 = QString::fromUcs4(&c, 1).toUtf8();
            out.forms.emplace_back(utf8.constData(), size_t(utf8.size()));
            out.targets.push_back(char(folded));
        }
        return out;
    }();
    return f;
}

// ---- LIKE --------------------------------------------------------------------------------------

struct PatternElem {
    enum Kind { Literal, Any, One, Digit, Set } kind = Literal;
    char32_t ch = 0;                                   // Literal (folded)
    std::vector<std::pair<char32_t, char32_t>> ranges;  // Set (folded)
    bool negate = false;
};

struct Pattern {
    std::vector<PatternElem> elems;
    // "*literal*" patterns, the usual search, go through a plain substring search.
    bool containsOnly = false;
    std::u32string literal;
    // The same literal when it is all ASCII (folded), for a search on the text's own bytes.
    std::string asciiLiteral;  // all of it, or its longest ASCII run
    bool asciiOnly = false;
    bool foldTargetInLiteral = false;  // a letter some non-ASCII character folds to
};

Pattern compile(const std::u32string& p) {
    Pattern pat;
    size_t i = 0;
    while (i < p.size()) {
        const char32_t c = p[i];
        PatternElem e;
        e.kind = PatternElem::Literal;
        if (c == '*') {
            e.kind = PatternElem::Any;
            ++i;
            if (!pat.elems.empty() && pat.elems.back().kind == PatternElem::Any) continue;
        } else if (c == '?') {
            e.kind = PatternElem::One;
            ++i;
        } else if (c == '#') {
            e.kind = PatternElem::Digit;
            ++i;
        } else if (c == '[') {
            size_t j = i + 1;
            e.kind = PatternElem::Set;
            if (j < p.size() && p[j] == '!') {
                e.negate = true;
                ++j;
            }
            bool closed = false;
            bool first = true;
            while (j < p.size()) {
                if (p[j] == ']' && !first) {
                    closed = true;
                    break;
                }
                first = false;
                char32_t lo = foldCase(p[j]);
                char32_t hi = lo;
                if (j + 2 < p.size() && p[j + 1] == '-' && p[j + 2] != ']') {
                    hi = foldCase(p[j + 2]);
                    j += 2;
                }
                e.ranges.emplace_back(std::min(lo, hi), std::max(lo, hi));
                ++j;
            }
            if (!closed) {  // a lone '[' is literal
                e = PatternElem();
                e.kind = PatternElem::Literal;
                e.ch = '[';
                ++i;
            } else {
                // "[]" matches nothing special; "[*]" etc. are literal sets.
                i = j + 1;
            }
        } else {
            e.ch = foldCase(c);
            ++i;
        }
        pat.elems.push_back(std::move(e));
    }
    // *abc* form
    const auto& el = pat.elems;
    if (el.size() >= 2 && el.front().kind == PatternElem::Any && el.back().kind == PatternElem::Any) {
        bool lit = true;
        for (size_t k = 1; k + 1 < el.size(); ++k)
            if (el[k].kind != PatternElem::Literal) lit = false;
        if (lit) {
            pat.containsOnly = true;
            for (size_t k = 1; k + 1 < el.size(); ++k) pat.literal.push_back(el[k].ch);
            pat.asciiOnly = !pat.literal.empty();
            // The whole literal when it is ASCII, else its longest ASCII run (a text without that run
            // cannot hold the literal either).
            std::string run;
            for (char32_t c : pat.literal) {
                if (c >= 128) {
                    pat.asciiOnly = false;
                    run.clear();
                    continue;
                }
                run.push_back(char(c));
                if (run.size() > pat.asciiLiteral.size()) pat.asciiLiteral = run;
            }
            for (char c : pat.asciiLiteral)
                if (foldingToAscii().targets.find(c) != std::string::npos) pat.foldTargetInLiteral = true;
        }
    }
    return pat;
}

bool elemMatches(const PatternElem& e, char32_t c) {
    switch (e.kind) {
        case PatternElem::Literal: return e.ch == c;
        case PatternElem::One: return true;
        case PatternElem::Digit: return c >= '0' && c <= '9';
        case PatternElem::Set: {
            bool in = false;
            for (auto& r : e.ranges)
                if (c >= r.first && c <= r.second) in = true;
            return in != e.negate;
        }
        case PatternElem::Any: return true;
    }
    return false;
}

// Classic wildcard matching with one backtrack point: linear for the common patterns.
bool matchFolded(const Pattern& pat, const std::u32string& s) {
    if (pat.containsOnly) {
        if (pat.literal.empty()) return true;
        return s.find(pat.literal) != std::u32string::npos;
    }
    const auto& p = pat.elems;
    size_t pi = 0, si = 0, starP = std::string::npos, starS = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi].kind == PatternElem::Any) {
            starP = pi++;
            starS = si;
        } else if (pi < p.size() && elemMatches(p[pi], s[si])) {
            ++pi;
            ++si;
        } else if (starP != std::string::npos) {
            pi = starP + 1;
            si = ++starS;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi].kind == PatternElem::Any) ++pi;
    return pi == p.size();
}

void foldInPlace(std::u32string& s) {
    for (auto& c : s) c = foldCase(c);
}

// "*literal*" with an ASCII literal, on the text's bytes: 1 match, 0 no match, -1 when only the
// full decoding can tell (the text holds a character that folds to one of the literal's letters).
int asciiContains(const Pattern& pat, const unsigned char* t, int n) {
    const std::string& lit = pat.asciiLiteral;
    const int m = int(lit.size());
    const unsigned char first = static_cast<unsigned char>(lit[0]);
    const bool letter = first >= 'a' && first <= 'z';
    for (int i = 0; i + m <= n; ++i) {
        // A byte or'ed with 0x20 is a lowercase letter only when it is that letter in either case.
        if ((letter ? (t[i] | 0x20) : t[i]) != first) continue;
        int k = 1;
        for (; k < m; ++k) {
            unsigned char x = t[i + k];
            if (x >= 'A' && x <= 'Z') x += 32;
            if (x != static_cast<unsigned char>(lit[size_t(k)])) break;
        }
        if (k == m) return 1;
    }
    if (!pat.foldTargetInLiteral) return 0;
    const std::string_view text(reinterpret_cast<const char*>(t), size_t(n));
    for (const std::string& form : foldingToAscii().forms)
        if (text.find(form) != std::string_view::npos) return -1;
    return 0;
}

void likeFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    auto* pat = static_cast<Pattern*>(sqlite3_get_auxdata(ctx, 0));
    if (!pat) {
        std::u32string p;
        decodeUtf8(sqlite3_value_text(argv[0]), sqlite3_value_bytes(argv[0]), p);
        pat = new Pattern(compile(p));
        sqlite3_set_auxdata(ctx, 0, pat, [](void* v) { delete static_cast<Pattern*>(v); });
        pat = static_cast<Pattern*>(sqlite3_get_auxdata(ctx, 0));
        if (!pat) {  // auxdata could not be kept: match with a local copy
            std::u32string s;
            decodeUtf8(sqlite3_value_text(argv[1]), sqlite3_value_bytes(argv[1]), s);
            foldInPlace(s);
            sqlite3_result_int(ctx, matchFolded(compile(p), s));
            return;
        }
    }
    const unsigned char* text = sqlite3_value_text(argv[1]);
    const int bytes = sqlite3_value_bytes(argv[1]);
    if (pat->asciiOnly) {
        // The usual search, typed letters and digits: no decoding for the text.
        const int found = asciiContains(*pat, text, bytes);
        if (found >= 0) {
            sqlite3_result_int(ctx, found);
            return;
        }
    } else if (!pat->asciiLiteral.empty() && asciiContains(*pat, text, bytes) == 0) {
        // A text without the literal's ASCII run cannot hold the literal: no decoding either.
        sqlite3_result_int(ctx, 0);
        return;
    }
    thread_local std::u32string s;
    decodeUtf8(text, bytes, s);
    foldInPlace(s);
    sqlite3_result_int(ctx, matchFolded(*pat, s) ? 1 : 0);
}

// ---- Collation ---------------------------------------------------------------------------------

int collate(const unsigned char* a, int na, const unsigned char* b, int nb) {
    // ASCII fast path: fold and compare byte by byte until a non-ASCII byte shows up.
    int i = 0;
    const int n = std::min(na, nb);
    for (; i < n; ++i) {
        unsigned char x = a[i], y = b[i];
        if ((x | y) & 0x80) break;
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return x < y ? -1 : 1;
    }
    if (i == n) {
        if (na == nb) return 0;
        if (i == na) return -1;
        if (i == nb) return 1;
    }
    // Back up to the start of the current UTF-8 sequence and compare the rest by code points:
    // base letters first (so accented letters sort with their base), then the folded letters.
    while (i > 0 && (a[i] & 0xC0) == 0x80) --i;
    thread_local std::u32string sa, sb;
    decodeUtf8(a + i, na - i, sa);
    decodeUtf8(b + i, nb - i, sb);
    const size_t m = std::min(sa.size(), sb.size());
    for (size_t k = 0; k < m; ++k) {
        const char32_t x = baseLetter(sa[k]), y = baseLetter(sb[k]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (sa.size() != sb.size()) return sa.size() < sb.size() ? -1 : 1;
    for (size_t k = 0; k < m; ++k) {
        const char32_t x = foldCase(sa[k]), y = foldCase(sb[k]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

int collateFunc(void*, int na, const void* a, int nb, const void* b) {
    return collate(static_cast<const unsigned char*>(a), na, static_cast<const unsigned char*>(b), nb);
}

// ---- Jet functions -----------------------------------------------------------------------------

QString argText(sqlite3_value* v) {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(v)), sqlite3_value_bytes(v));
}

void resultText(sqlite3_context* ctx, const QString& s) {
    const QByteArray u = s.toUtf8();
    sqlite3_result_text(ctx, u.constData(), int(u.size()), SQLITE_TRANSIENT);
}

bool anyNull(int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
    return false;
}

void ucaseFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    resultText(ctx, argText(argv[0]).toUpper());
}
void lcaseFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    resultText(ctx, argText(argv[0]).toLower());
}
void lenFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    sqlite3_result_int64(ctx, argText(argv[0]).size());
}
void leftFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    resultText(ctx, argText(argv[0]).left(std::max<qsizetype>(0, sqlite3_value_int64(argv[1]))));
}
void rightFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    resultText(ctx, argText(argv[0]).right(std::max<qsizetype>(0, sqlite3_value_int64(argv[1]))));
}
void midFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const qsizetype start = std::max<qsizetype>(1, sqlite3_value_int64(argv[1]));
    const qsizetype len = argc > 2 ? std::max<qsizetype>(0, sqlite3_value_int64(argv[2])) : -1;
    resultText(ctx, argText(argv[0]).mid(start - 1, len));
}
void valFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    sqlite3_result_double(ctx, leadingNumber(argText(argv[0])));
}
void nzFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) != SQLITE_NULL) return sqlite3_result_value(ctx, argv[0]);
    if (argc > 1) return sqlite3_result_value(ctx, argv[1]);
    sqlite3_result_text(ctx, "", 0, SQLITE_STATIC);
}
template <int Part>
void datePartFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    double day = 0;
    if (!parseStoredDate(argText(argv[0]), &day)) return sqlite3_result_null(ctx);
    const QDate d = Variant::dateTimeFromDayNumber(day).date();
    sqlite3_result_int(ctx, Part == 0 ? d.year() : Part == 1 ? d.month() : d.day());
}

void rowsFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    auto* sink = argc >= 2 ? static_cast<RowSink*>(sqlite3_value_pointer(argv[0], kRowSinkType)) : nullptr;
    if (!sink) return sqlite3_result_error(ctx, "tabulon_rows: no sink", -1);
    try {
        sink->row(sqlite3_value_int64(argv[1]), argv + 2, argc - 2);
    } catch (...) {
        return sqlite3_result_error_nomem(ctx);
    }
    sqlite3_result_null(ctx);
}

}  // namespace

void registerJetFunctions(sqlite3* db) {
    // Ours only: never run from a view or trigger a file brings.
    sqlite3_create_function(db, "tabulon_rows", -1, SQLITE_UTF8 | SQLITE_DIRECTONLY, nullptr, rowsFunc, nullptr,
                            nullptr);
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "like", 2, flags, nullptr, likeFunc, nullptr, nullptr);
    sqlite3_create_function(db, "like", 3, flags, nullptr, likeFunc, nullptr, nullptr);
    sqlite3_create_collation(db, "JETTEXT", SQLITE_UTF8, nullptr, collateFunc);
    sqlite3_create_function(db, "ucase", 1, flags, nullptr, ucaseFunc, nullptr, nullptr);
    sqlite3_create_function(db, "lcase", 1, flags, nullptr, lcaseFunc, nullptr, nullptr);
    sqlite3_create_function(db, "len", 1, flags, nullptr, lenFunc, nullptr, nullptr);
    sqlite3_create_function(db, "left", 2, flags, nullptr, leftFunc, nullptr, nullptr);
    sqlite3_create_function(db, "right", 2, flags, nullptr, rightFunc, nullptr, nullptr);
    sqlite3_create_function(db, "mid", 2, flags, nullptr, midFunc, nullptr, nullptr);
    sqlite3_create_function(db, "mid", 3, flags, nullptr, midFunc, nullptr, nullptr);
    sqlite3_create_function(db, "val", 1, flags, nullptr, valFunc, nullptr, nullptr);
    sqlite3_create_function(db, "nz", 1, flags, nullptr, nzFunc, nullptr, nullptr);
    sqlite3_create_function(db, "nz", 2, flags, nullptr, nzFunc, nullptr, nullptr);
    sqlite3_create_function(db, "year", 1, flags, nullptr, datePartFunc<0>, nullptr, nullptr);
    sqlite3_create_function(db, "month", 1, flags, nullptr, datePartFunc<1>, nullptr, nullptr);
    sqlite3_create_function(db, "day", 1, flags, nullptr, datePartFunc<2>, nullptr, nullptr);
}

bool jetLike(const QString& pattern, const QString& text) {
    std::u32string p, s;
    const QByteArray pu = pattern.toUtf8(), su = text.toUtf8();
    decodeUtf8(reinterpret_cast<const unsigned char*>(pu.constData()), int(pu.size()), p);
    decodeUtf8(reinterpret_cast<const unsigned char*>(su.constData()), int(su.size()), s);
    foldInPlace(s);
    return matchFolded(compile(p), s);
}

int jetCompare(const QString& a, const QString& b) {
    const QByteArray x = a.toUtf8(), y = b.toUtf8();
    return collate(reinterpret_cast<const unsigned char*>(x.constData()), int(x.size()),
                   reinterpret_cast<const unsigned char*>(y.constData()), int(y.size()));
}

}  // namespace dao
