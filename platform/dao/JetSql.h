#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace dao {

// Jet SQL -> SQLite SQL. Handles [name] identifiers, '...' and "..." literals, #date# literals,
// True/False/Yes/No, & concatenation, Mod, TOP n, DELETE * FROM, and makes text comparisons and
// sorts case-insensitive by collating every column reference in WHERE / ORDER BY / HAVING with
// the JETTEXT collation (which numbers ignore). LIKE keeps Jet's pattern: the connection's like()
// function implements * ? # [..] [!..].
struct TranslatedSql {
    QString sql;                // the whole statement, translated
    bool isSelect = false;
    // For a plain select over one table (the kind a dynaset is made of):
    bool singleTable = false;   // no join, group, distinct, union, aggregate
    QString table;              // the table name, unquoted
    QString selectList;         // translated select list
    QString whereClause;        // translated condition (without WHERE), may be empty
    QString orderClause;        // translated order list (without ORDER BY), may be empty
    QString limitClause;        // translated LIMIT text, may be empty
    QString jetWithoutOrder;    // the original Jet text with its top-level ORDER BY removed
};

// The engine type of a column by name (0 when unknown). With it, a text literal compared with a date
// field becomes the stored date form, and one that is no date (or no number, for a number field)
// raises 3464, as Jet refuses such criteria.
using FieldTypeLookup = std::function<int(const QString&)>;

// The SQL the text is translated for. PostgreSQL keeps True/False as booleans, has no JETTEXT
// collation, and turns a Jet like pattern into ILIKE (or a case-insensitive regular expression for
// [..] and #).
enum class SqlDialect { Sqlite, Postgres };

// The exact name of a table or column named in any case (empty when there is none). Jet names are
// case-insensitive; PostgreSQL's quoted ones are not, and its bare ones fold to lower case.
using NameLookup = std::function<QString(const QString&)>;

TranslatedSql translateJetSql(const QString& jet, const FieldTypeLookup& typeOf = {},
                              SqlDialect dialect = SqlDialect::Sqlite, const NameLookup& nameOf = {});

// A Jet expression (a FindFirst criteria, a sort key) translated on its own.
QString translateJetExpression(const QString& jet, const FieldTypeLookup& typeOf = {},
                               SqlDialect dialect = SqlDialect::Sqlite, const NameLookup& nameOf = {});

// A Jet like pattern (* ? # [..] [!..]) for PostgreSQL: an ILIKE pattern with \ escapes, or, when
// it holds # or a character class, an anchored regular expression for ~* (*regex set to true).
QString postgresLikePattern(const QString& jet, bool* regex);

// The text with its comments ("-- " to the end of the line, "/* ... */") turned into blanks of the
// same length, so that offsets into it stay offsets into the original. Quoted text and bracketed
// names are left alone.
QString blankSqlComments(const QString& sql);

// How many statements a text holds: the parts between semicolons outside quotes, brackets and
// comments that hold more than blanks. A text of comments only holds none.
int sqlStatementCount(const QString& sql);

// A name quoted for SQLite ("a ""b""").
QString quoteIdent(const QString& name);

// A table or field name written into the program's SQL, the one quoting rule of the whole program:
// plain names (letters, digits, '_', not a keyword or a constant such as True or Mod) stay as they
// are unless `Always` is asked for; others get brackets, or backquotes when they hold a "]" (a
// backquote inside then written twice).
enum class NameQuoting { WhenNeeded, Always };
QString jetName(const QString& name, NameQuoting quoting = NameQuoting::WhenNeeded);

// Parses a Jet date literal body (m/d/yyyy [h:mm[:ss] [AM|PM]] or yyyy-mm-dd [hh:mm[:ss]]) into the
// stored form "yyyy-MM-dd HH:mm:ss"; empty when it is not a date.
QString jetDateLiteralToIso(const QString& body);

}  // namespace dao
