#include "JetSql.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QTime>
#include <vector>

#include "Error.h"
#include "FieldTypes.h"

namespace dao {

namespace {

enum class Tok { Space, Word, Ident, String, Number, Op };

struct Token {
    Tok kind;
    QString text;    // translated text
    QString upper;   // upper-cased word, for keywords
    int begin = 0;   // offsets in the original text
    int end = 0;
};

bool isWordStart(QChar c) { return c.isLetter() || c == '_' || c.unicode() > 127; }
bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == '_' || c == '$' || c.unicode() > 127; }

QString sqlString(const QString& s) {
    QString out = s;
    out.replace('\'', "''");
    return '\'' + out + '\'';
}

std::vector<Token> tokenize(const QString& in) {
    std::vector<Token> toks;
    const int n = int(in.size());
    int i = 0;
    while (i < n) {
        const QChar c = in[i];
        Token t;
        t.begin = i;
        if (c.isSpace()) {
            int j = i;
            while (j < n && in[j].isSpace()) ++j;
            t.kind = Tok::Space;
            t.text = " ";
            i = j;
        } else if (c == '[') {
            int j = in.indexOf(']', i + 1);
            if (j < 0) j = n;  // unterminated: take the rest; SQLite will report the error
            t.kind = Tok::Ident;
            t.upper = in.mid(i + 1, j - i - 1);  // the bare name
            t.text = quoteIdent(t.upper);
            i = std::min(n, j + 1);
        } else if (c == '`') {
            // A backquote inside is written twice.
            QString name;
            int j = i + 1;
            while (j < n) {
                if (in[j] == '`') {
                    if (j + 1 < n && in[j + 1] == '`') {
                        name += '`';
                        j += 2;
                        continue;
                    }
                    break;
                }
                name += in[j++];
            }
            t.kind = Tok::Ident;
            t.upper = name;
            t.text = quoteIdent(t.upper);
            i = std::min(n, j + 1);
        } else if (c == '\'' || c == '"') {
            QString body;
            int j = i + 1;
            while (j < n) {
                if (in[j] == c) {
                    if (j + 1 < n && in[j + 1] == c) {
                        body += c;
                        j += 2;
                        continue;
                    }
                    break;
                }
                body += in[j++];
            }
            if (j >= n)
                raise(err::SyntaxError,
                      QString("Syntax error in string in query expression '%1'.").arg(in.mid(t.begin)));
            t.kind = Tok::String;
            t.upper = body;
            t.text = sqlString(body);
            i = std::min(n, j + 1);
        } else if (c == '#') {
            const int j = in.indexOf('#', i + 1);
            const QString iso = j > i ? jetDateLiteralToIso(in.mid(i + 1, j - i - 1)) : QString();
            if (!iso.isEmpty()) {
                t.kind = Tok::String;
                t.upper = iso;
                t.text = sqlString(iso);
                i = j + 1;
            } else {
                t.kind = Tok::Op;
                t.text = "#";
                ++i;
            }
        } else if (c.isDigit() || (c == '.' && i + 1 < n && in[i + 1].isDigit())) {
            int j = i;
            while (j < n && (in[j].isDigit() || in[j] == '.')) ++j;
            if (j < n && (in[j] == 'e' || in[j] == 'E')) {
                int k = j + 1;
                if (k < n && (in[k] == '+' || in[k] == '-')) ++k;
                if (k < n && in[k].isDigit()) {
                    j = k;
                    while (j < n && in[j].isDigit()) ++j;
                }
            }
            t.kind = Tok::Number;
            t.text = in.mid(i, j - i);
            i = j;
        } else if (isWordStart(c)) {
            int j = i;
            while (j < n && isWordChar(in[j])) ++j;
            t.kind = Tok::Word;
            t.text = in.mid(i, j - i);
            t.upper = t.text.toUpper();
            i = j;
        } else {
            t.kind = Tok::Op;
            static const char* two[] = {"<>", "<=", ">=", "!=", "==", "||"};
            bool done = false;
            for (const char* op : two) {
                if (in.mid(i, 2) == QLatin1String(op)) {
                    t.text = QLatin1String(op);
                    i += 2;
                    done = true;
                    break;
                }
            }
            if (!done) {
                t.text = QString(c);
                ++i;
            }
            if (t.text == "&") t.text = "||";
            if (t.text == "\\") t.text = "/";
        }
        t.end = i;
        toks.push_back(std::move(t));
    }
    return toks;
}

const QSet<QString>& keywords() {
    static const QSet<QString> k = {
        "SELECT", "FROM",   "WHERE",  "GROUP",    "BY",     "ORDER",   "HAVING",  "AND",       "OR",
        "NOT",    "LIKE",   "IS",     "NULL",     "BETWEEN", "IN",     "ASC",     "DESC",      "EXISTS",
        "CASE",   "WHEN",   "THEN",   "ELSE",     "END",    "AS",      "ON",      "JOIN",      "INNER",
        "LEFT",   "RIGHT",  "OUTER",  "CROSS",    "UNION",  "ALL",     "DISTINCT", "LIMIT",    "OFFSET",
        "ESCAPE", "COLLATE", "GLOB",  "REGEXP",   "MATCH",  "CAST",    "INTO",    "VALUES",    "SET",
        "UPDATE", "DELETE", "INSERT", "TABLE",    "CREATE", "DROP",    "ALTER",   "INDEX",     "NULLS",
        "FIRST",  "LAST",   "DISTINCTROW", "TOP", "PERCENT", "CURRENT_DATE", "CURRENT_TIME",
        "CURRENT_TIMESTAMP", "DEFAULT", "PRIMARY", "KEY", "REFERENCES", "FOREIGN", "CONSTRAINT",
        "UNIQUE", "CHECK", "EXCEPT", "INTERSECT", "NATURAL", "USING", "WITH", "RECURSIVE", "REPLACE",
        "ABORT", "ROLLBACK", "FAIL", "IGNORE", "CONFLICT", "ADD", "COLUMN", "RENAME", "TO", "PRAGMA",
        "BEGIN", "COMMIT", "TRANSACTION", "VIEW", "TRIGGER", "IF", "EXPLAIN", "ANALYZE", "VACUUM", "ATTACH",
        "DETACH", "ROWID"};
    return k;
}

const QSet<QString>& aggregates() {
    static const QSet<QString> a = {"COUNT", "SUM", "AVG", "MIN", "MAX", "FIRST", "LAST", "STDEV", "STDEVP",
                                    "VAR", "VARP", "GROUP_CONCAT", "TOTAL"};
    return a;
}

enum class Clause { None, Select, From, Where, Group, Having, Order, Limit, Set, Values, Other };

int nextSolid(const std::vector<Token>& t, int i) {
    for (int j = i + 1; j < int(t.size()); ++j)
        if (t[j].kind != Tok::Space) return j;
    return -1;
}
int prevSolid(const std::vector<Token>& t, int i) {
    for (int j = i - 1; j >= 0; --j)
        if (t[j].kind != Tok::Space) return j;
    return -1;
}

QString join(const std::vector<Token>& t, int from, int to) {
    QString s;
    for (int i = from; i < to && i < int(t.size()); ++i) s += t[i].text;
    return s.trimmed();
}

struct Translation {
    std::vector<Token> toks;
    TranslatedSql out;
};

// Rewrites the tokens in place and gathers the clause boundaries of the outermost statement.
// A text literal compared with a date or number field must be a date or a number: converted to the
// stored date form, or refused with 3464 as the engine refuses such criteria.
void checkTypedComparison(std::vector<Token>& t, int nameAt, const FieldTypeLookup& typeOf) {
    if (!typeOf) return;
    const int op = nextSolid(t, nameAt);
    if (op < 0 || t[op].kind != Tok::Op) return;
    static const QSet<QString> comparisons = {"=", "<>", "<", ">", "<=", ">=", "!=", "=="};
    if (!comparisons.contains(t[op].text)) return;
    const int lit = nextSolid(t, op);
    if (lit < 0 || t[lit].kind != Tok::String) return;
    const QString name = t[nameAt].kind == Tok::Ident ? t[nameAt].upper : t[nameAt].text;
    const int type = typeOf(name);
    const QString body = t[lit].upper;
    if (type == dbDate) {
        const QString iso = jetDateLiteralToIso(body);
        if (iso.isEmpty())
            raise(err::DataTypeMismatch,
                  QString("Data type mismatch in criteria expression: '%1' is not a date for field '%2'.")
                      .arg(body, name));
        t[lit].text = sqlString(iso);
    } else if (type == dbBoolean || type == dbByte || type == dbInteger || type == dbLong || type == dbBigInt || type == dbCurrency ||
               type == dbSingle || type == dbDouble || type == dbNumeric || type == dbDecimal || type == dbFloat) {
        bool ok = false;
        body.trimmed().toDouble(&ok);
        if (!ok) QLocale().toDouble(body.trimmed(), &ok);
        if (!ok)
            raise(err::DataTypeMismatch,
                  QString("Data type mismatch in criteria expression: '%1' is not a number for field '%2'.")
                      .arg(body, name));
    }
}

void translateTokens(std::vector<Token>& t, TranslatedSql& out, const QString& original, bool expressionOnly,
                     const FieldTypeLookup& typeOf = {}, SqlDialect dialect = SqlDialect::Sqlite,
                     const NameLookup& nameOf = {}) {
    const bool pg = dialect == SqlDialect::Postgres;
    // Clause of each paren depth.
    std::vector<Clause> stack{expressionOnly ? Clause::Where : Clause::None};
    int selectAt = -1, fromAt = -1, whereAt = -1, groupAt = -1, havingAt = -1, orderAt = -1, limitAt = -1;
    bool distinct = false, joins = false, unions = false, aggregate = false, comma = false;
    QString topCount;
    int firstWord = -1;

    for (int i = 0; i < int(t.size()); ++i) {
        Token& k = t[i];
        const int depth = int(stack.size()) - 1;
        if (k.kind == Tok::Op) {
            if (k.text == "(") {
                stack.push_back(stack.back() == Clause::None ? Clause::Other : stack.back());
            } else if (k.text == ")") {
                if (stack.size() > 1) stack.pop_back();
            } else if (k.text == "," && depth == 0 && stack.back() == Clause::From) {
                comma = true;
            } else if (k.text == ";" && nextSolid(t, i) < 0) {
                k.text.clear();  // a trailing semicolon
            }
            continue;
        }
        if (k.kind != Tok::Word && k.kind != Tok::Ident) continue;
        if (k.kind == Tok::Word) {
            const QString& u = k.upper;
            if (firstWord < 0) firstWord = i;
            const int nx = nextSolid(t, i);
            const bool isCall = nx >= 0 && t[nx].kind == Tok::Op && t[nx].text == "(";
            static const QSet<QString> alsoFunctions = {"LEFT", "RIGHT", "REPLACE", "FIRST", "LAST", "IF"};
            if (isCall && (!keywords().contains(u) || alsoFunctions.contains(u))) {
                if (stack.back() == Clause::Select && aggregates().contains(u)) aggregate = true;
                continue;
            }
            if (u == "TRUE" || u == "YES") {
                k.text = pg ? "TRUE" : "1";
                continue;
            }
            if (u == "FALSE" || u == "NO") {
                k.text = pg ? "FALSE" : "0";
                continue;
            }
            if (pg && u == "LIKE") {
                const int lit = nextSolid(t, i);
                bool regex = false;
                if (lit >= 0 && t[lit].kind == Tok::String) {
                    t[lit].text = sqlString(postgresLikePattern(t[lit].upper, &regex));
                    if (regex) t[lit].text.prepend('E');
                }
                k.text = regex ? "~*" : "ILIKE";
                const int pv = prevSolid(t, i);
                if (regex && pv >= 0 && t[pv].kind == Tok::Word && t[pv].upper == "NOT") {
                    t[pv].text.clear();
                    k.text = "!~*";
                }
                continue;
            }
            if (u == "MOD") {
                k.text = "%";
                continue;
            }
            if (keywords().contains(u)) {
                // Clause changes, tracked per depth for collation and at depth 0 for the analysis.
                Clause c = stack.back();
                if (u == "SELECT") c = Clause::Select;
                else if (u == "FROM") c = Clause::From;
                else if (u == "WHERE") c = Clause::Where;
                else if (u == "GROUP") c = Clause::Group;
                else if (u == "HAVING") c = Clause::Having;
                else if (u == "ORDER") c = Clause::Order;
                else if (u == "LIMIT") c = Clause::Limit;
                else if (u == "SET") c = Clause::Set;
                else if (u == "VALUES") c = Clause::Values;
                else if (u == "ON" && c == Clause::From) c = Clause::Where;
                else if (u == "JOIN" && depth == 0) joins = true;
                if (depth == 0 && c != stack.back()) {
                    if (u == "SELECT" && selectAt < 0) selectAt = i;
                    if (u == "SELECT" && selectAt >= 0 && selectAt != i) unions = true;
                    if (u == "FROM" && fromAt < 0) fromAt = i;
                    if (u == "WHERE" && whereAt < 0) whereAt = i;
                    if (u == "GROUP") groupAt = i;
                    if (u == "HAVING") havingAt = i;
                    if (u == "ORDER" && orderAt < 0) orderAt = i;
                    if (u == "LIMIT") limitAt = i;
                }
                stack.back() = c;
                if (u == "UNION" || u == "EXCEPT" || u == "INTERSECT") unions = true;
                if ((u == "DISTINCT" || u == "DISTINCTROW") && depth == 0) distinct = true;
                if (u == "DISTINCTROW") k.text.clear();  // plain rows are what we give anyway
                if (u == "TOP" && c == Clause::Select) {
                    const int nx2 = nextSolid(t, i);
                    if (nx2 >= 0 && t[nx2].kind == Tok::Number) {
                        topCount = t[nx2].text;
                        k.text.clear();
                        t[nx2].text.clear();
                    }
                }
                if (u == "DELETE") {
                    const int nx2 = nextSolid(t, i);
                    if (nx2 >= 0 && t[nx2].kind == Tok::Op && t[nx2].text == "*") t[nx2].text.clear();
                }
                continue;
            }
        }
        // A name: collate column references where text comparisons and sorts happen.
        // Type names stay words even when a column has the same name: [Date] names that column.
        static const QSet<QString> typeWords = {"INTEGER", "INT", "SMALLINT", "BIGINT", "TEXT", "VARCHAR", "CHAR",
                                                "CHARACTER", "VARYING", "BOOLEAN", "DATE", "TIME", "TIMESTAMP",
                                                "INTERVAL", "NUMERIC", "DECIMAL", "REAL", "DOUBLE", "PRECISION",
                                                "BYTEA", "UUID", "MONEY", "SERIAL", "BIGSERIAL", "ZONE"};
        if (pg && nameOf && !(k.kind == Tok::Word && typeWords.contains(k.upper))) {
            const QString exact = nameOf(k.kind == Tok::Ident ? k.upper : k.text);
            if (!exact.isEmpty()) {
                k.kind = Tok::Ident;
                k.upper = exact;
                k.text = quoteIdent(exact);
            }
        }
        const Clause c = stack.back();
        if (c != Clause::Where && c != Clause::Order && c != Clause::Having) continue;
        const int nx = nextSolid(t, i);
        if (nx >= 0 && t[nx].kind == Tok::Op && (t[nx].text == "." || t[nx].text == "(")) continue;
        const int pv = prevSolid(t, i);
        if (pv >= 0 && t[pv].kind == Tok::Word &&
            (t[pv].upper == "FROM" || t[pv].upper == "JOIN" || t[pv].upper == "AS" || t[pv].upper == "COLLATE"))
            continue;
        if (c != Clause::Order) checkTypedComparison(t, i, typeOf);
        if (!pg) k.text += " COLLATE JETTEXT";
    }

    if (expressionOnly) return;
    const auto upperAt = [&](int i) { return i >= 0 ? t[i].upper : QString(); };
    out.isSelect = firstWord >= 0 && (upperAt(firstWord) == "SELECT");
    if (!topCount.isEmpty() && limitAt < 0) {
        Token lim;
        lim.kind = Tok::Word;
        lim.text = " LIMIT " + topCount;
        lim.upper = "LIMIT";
        lim.begin = lim.end = int(original.size());
        t.push_back(lim);
        limitAt = int(t.size()) - 1;
    }
    if (!out.isSelect || fromAt < 0) return;

    // Clause ends, in token positions.
    auto endOf = [&](int start) {
        int e = int(t.size());
        for (int b : {fromAt, whereAt, groupAt, havingAt, orderAt, limitAt})
            if (b > start && b < e) e = b;
        return e;
    };
    out.selectList = join(t, selectAt + 1, fromAt);
    if (whereAt >= 0) out.whereClause = join(t, whereAt + 1, endOf(whereAt));
    if (orderAt >= 0) {
        int ob = nextSolid(t, orderAt);  // skip BY
        out.orderClause = join(t, ob + 1, endOf(orderAt));
    }
    if (limitAt >= 0) out.limitClause = join(t, limitAt, int(t.size()));
    // A dynaset uses the clauses one by one, so an empty one would vanish instead of failing.
    if ((whereAt >= 0 && out.whereClause.isEmpty()) || (orderAt >= 0 && out.orderClause.isEmpty()))
        raise(err::SyntaxError, QString("Syntax error in query expression '%1'.").arg(original.trimmed()));

    // The from list must be one table name.
    std::vector<int> fromToks;
    for (int i = fromAt + 1; i < endOf(fromAt); ++i)
        if (t[i].kind != Tok::Space && !t[i].text.isEmpty()) fromToks.push_back(i);
    if (fromToks.size() == 1 && (t[fromToks[0]].kind == Tok::Ident || t[fromToks[0]].kind == Tok::Word)) {
        out.table = t[fromToks[0]].kind == Tok::Ident ? t[fromToks[0]].upper : t[fromToks[0]].text;
    }
    out.singleTable = !out.table.isEmpty() && !distinct && !joins && !unions && !aggregate && !comma &&
                      groupAt < 0 && havingAt < 0;

    // The Jet text without its outermost ORDER BY (for re-sorting).
    if (orderAt >= 0) {
        const int e = endOf(orderAt);
        const int cutEnd = e < int(t.size()) ? t[e].begin : int(original.size());
        QString s = original.left(t[orderAt].begin) + original.mid(cutEnd);
        out.jetWithoutOrder = s.trimmed();
    } else {
        out.jetWithoutOrder = original.trimmed();
    }
    if (out.jetWithoutOrder.endsWith(';')) out.jetWithoutOrder.chop(1);
}

}  // namespace

QString quoteIdent(const QString& name) {
    QString s = name;
    s.replace('"', "\"\"");
    return '"' + s + '"';
}

QString jetName(const QString& name, NameQuoting quoting) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    // Words that stand for constants or operators when bare.
    static const QSet<QString> constants = {"TRUE", "FALSE", "YES", "NO", "MOD"};
    if (quoting == NameQuoting::WhenNeeded && plain.match(name).hasMatch()) {
        const QString upper = name.toUpper();
        if (!keywords().contains(upper) && !constants.contains(upper)) return name;
    }
    // A "]" would end the brackets early; backquotes hold it, a backquote inside written twice.
    if (name.contains(']')) {
        QString n = name;
        n.replace('`', "``");
        return '`' + n + '`';
    }
    return '[' + name + ']';
}

QString jetDateLiteralToIso(const QString& body) {
    const QString b = body.trimmed();
    static const QRegularExpression us(
        QStringLiteral("^(\\d{1,2})[/-](\\d{1,2})[/-](\\d{2,4})(?:\\s+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?\\s*"
                       "([AaPp][Mm])?)?$"));
    static const QRegularExpression iso(
        QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})(?:[ T](\\d{1,2}):(\\d{2})(?::(\\d{2}))?)?$"));
    static const QRegularExpression timeOnly(
        QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2}))?\\s*([AaPp][Mm])?$"));
    int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
    QString ampm;
    if (auto r = iso.match(b); r.hasMatch()) {
        y = r.captured(1).toInt();
        m = r.captured(2).toInt();
        d = r.captured(3).toInt();
        hh = r.captured(4).toInt();
        mm = r.captured(5).toInt();
        ss = r.captured(6).toInt();
    } else if (auto r2 = us.match(b); r2.hasMatch()) {
        m = r2.captured(1).toInt();
        d = r2.captured(2).toInt();
        y = r2.captured(3).toInt();
        if (r2.captured(3).size() <= 2) y += y < 30 ? 2000 : 1900;
        hh = r2.captured(4).toInt();
        mm = r2.captured(5).toInt();
        ss = r2.captured(6).toInt();
        ampm = r2.captured(7).toUpper();
    } else if (auto r3 = timeOnly.match(b); r3.hasMatch()) {
        y = 1899, m = 12, d = 30;
        hh = r3.captured(1).toInt();
        mm = r3.captured(2).toInt();
        ss = r3.captured(3).toInt();
        ampm = r3.captured(4).toUpper();
    } else {
        return {};
    }
    if (ampm == "PM" && hh < 12) hh += 12;
    if (ampm == "AM" && hh == 12) hh = 0;
    const QDate date(y, m, d);
    const QTime time(hh, mm, ss);
    if (!date.isValid() || !time.isValid()) return {};
    return storedDateText(y, m, d, hh, mm, ss);
}

namespace {

// Walks an SQL text: `plain(i)` for each character outside quotes, brackets and comments; a
// comment's characters go to `comment(i)`.
template <typename Plain, typename Comment>
void scanSql(const QString& sql, Plain plain, Comment comment) {
    const int n = int(sql.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = sql[i];
        if (c == '\'' || c == '"' || c == '[' || c == '`') {
            const QChar close = c == '[' ? QChar(']') : c;
            int j = int(sql.indexOf(close, i + 1));
            // A doubled quote inside quotes is one quote of the text.
            while (j >= 0 && close != ']' && j + 1 < n && sql[j + 1] == close) j = int(sql.indexOf(close, j + 2));
            if (j < 0) j = n - 1;
            for (int k = i; k <= j; ++k) plain(k, false);
            i = j;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            int j = int(sql.indexOf('\n', i));
            if (j < 0) j = n;
            for (int k = i; k < j; ++k) comment(k);
            i = j - 1;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            int j = int(sql.indexOf(QLatin1String("*/"), i + 2));
            j = j < 0 ? n : j + 2;
            for (int k = i; k < j; ++k) comment(k);
            i = j - 1;
        } else {
            plain(i, true);
        }
    }
}

}  // namespace

QString blankSqlComments(const QString& sql) {
    if (!sql.contains(QLatin1String("--")) && !sql.contains(QLatin1String("/*"))) return sql;
    QString out = sql;
    scanSql(sql, [](int, bool) {}, [&](int i) { out[i] = QLatin1Char(' '); });
    return out;
}

int sqlStatementCount(const QString& sql) {
    int count = 0;
    bool solid = false;
    scanSql(
        sql,
        [&](int i, bool bare) {
            if (bare && sql[i] == ';') {
                count += solid ? 1 : 0;
                solid = false;
            } else if (!sql[i].isSpace()) {
                solid = true;
            }
        },
        [](int) {});
    return count + (solid ? 1 : 0);
}

QString postgresLikePattern(const QString& jet, bool* regex) {
    *regex = jet.contains('#') || jet.contains('[');
    QString out;
    if (!*regex) {
        for (QChar c : jet) {
            if (c == '*') out += '%';
            else if (c == '?') out += '_';
            else if (c == '%' || c == '_' || c == '\\') out += QString('\\') + c;
            else out += c;
        }
        return out;
    }
    // An E'' literal: backslashes are doubled once more for the string itself.
    out = "^";
    for (int i = 0; i < jet.size(); ++i) {
        const QChar c = jet[i];
        if (c == '*') out += ".*";
        else if (c == '?') out += '.';
        else if (c == '#') out += "[0-9]";
        else if (c == '[') {
            const int close = jet.indexOf(']', i + 1);
            if (close < 0) {
                out += "\\\\[";
                continue;
            }
            QString body = jet.mid(i + 1, close - i - 1);
            QString cls = "[";
            if (body.startsWith('!')) {
                cls += '^';
                body.remove(0, 1);
            }
            for (QChar b : body) {
                if (b == '\\' || b == ']' || b == '^') cls += "\\\\";
                cls += b;
            }
            out += cls + ']';
            i = close;
        } else if (QStringLiteral(".^$+(){}|\\").contains(c)) {
            out += "\\\\";
            out += c;
        } else {
            out += c;
        }
    }
    return out + '$';
}

TranslatedSql translateJetSql(const QString& jetText, const FieldTypeLookup& typeOf, SqlDialect dialect,
                              const NameLookup& nameOf) {
    // Comments are blanks (the text keeps its length: token offsets index the original).
    const QString jet = blankSqlComments(jetText);
    // Only the first statement would run; the others must not be dropped without a word.
    if (sqlStatementCount(jet) > 1)
        raise(err::CharactersAfterEnd,
              QString("Characters found after end of SQL statement: %1").arg(jetText.trimmed()));
    TranslatedSql out;
    auto toks = tokenize(jet);
    translateTokens(toks, out, jet, false, typeOf, dialect, nameOf);
    out.sql = join(toks, 0, int(toks.size()));
    return out;
}

QString translateJetExpression(const QString& jetText, const FieldTypeLookup& typeOf, SqlDialect dialect,
                               const NameLookup& nameOf) {
    const QString jet = blankSqlComments(jetText);
    TranslatedSql unused;
    auto toks = tokenize(jet);
    translateTokens(toks, unused, jet, true, typeOf, dialect, nameOf);
    return join(toks, 0, int(toks.size()));
}

}  // namespace dao
