#pragma once

#include <QString>
#include <optional>
#include <vector>

// The SQL texts of the table browser's search, range, show-all and ordering, built without a
// window. Texts are Jet SQL as the engine takes it. The exact blanks matter: the texts are shown in
// the status bar and stored as a table's last query, and stored queries must keep matching.
namespace browser {

// One search row as the window reads it: the field chosen in its combo (empty when none is
// chosen), that field's engine type code, and the text typed into its value box.
struct SearchRow {
    QString field;
    int fieldType = 0;
    QString value;
};

// Integer, Long and Currency: searched and ranged as numbers. Every other type is searched as text.
bool isNumericFieldType(int typeCode);

// A table name or sort field as written into SQL: a plain name stays exactly as it is, so texts
// stored by earlier versions still match; a name with a blank, a hyphen, a non-ASCII letter, a
// leading digit, or one the engine reads as a keyword or a constant (Order, Yes, Mod) gets
// brackets ("[Mi tabla]"). A name holding "]" cannot be bracketed and gets backquotes instead.
QString sqlName(const QString& name);

// A field name inside a condition: always bracketed ("[Precio]"); backquoted when it holds "]".
QString fieldRef(const QString& field);

// A typed text made safe inside '...': apostrophes doubled ("O'Brien" -> "O''Brien").
QString quoteText(const QString& value);

// The number a typed text stands for, as SQL: dao::typedNumber ("1,5" under a comma locale is 1.5;
// otherwise the leading number: "12abc" -> 12, "abc" -> 0, "&H10" -> 16) written back with the value-to-text conversion, but always with "." as the
// decimal separator so a comma locale cannot split the number in two. A number beyond the double
// range throws dao::Error 6 (Overflow) instead of writing "Infinity" into the text.
QString numberText(const QString& typed);

// "select " + selectList + " from " + table: the record source of a table with every record.
QString recordSourceSql(const QString& selectList, const QString& table);

// The condition of one search row under the operator op, or an empty text for a row that takes no
// part (empty value, or no field chosen). Numeric rows: "[f] " + op + number for "=", ">", "<",
// "[f] =" + number for "Like" and any other text (no blank before the number). Text rows:
// "[f] like '*v*'" for "Like", "[f] = 'v'" for every other operator. Throws as numberText does.
QString searchCondition(const QString& op, const SearchRow& row);

// The conditions of the rows that take part, in row order, joined by " and "; empty when none.
QString searchWhere(const QString& op, const std::vector<SearchRow>& rows);

// The search's record source: recordSourceSql, plus " where " + searchWhere when that is not empty.
QString searchSql(const QString& selectList, const QString& table, const QString& op,
                  const std::vector<SearchRow>& rows);

// The range's record source over the numeric field, "*" leaving an end open:
//   from and to:   base + " where [f]>= " + from + " and [f] <= " + to
//   from "*":      base + " where [f] <= " + to            (to "*" reads as 0)
//   to "*":        base + " where [f] >= " + from + " "     (with the trailing blank)
// No text (std::nullopt) when from, to or the field is empty: the range leaves the grid as it is.
// Throws as numberText does.
std::optional<QString> rangeSql(const QString& selectList, const QString& table, const QString& field,
                                const QString& from, const QString& to);

// The sort expression that orders the records by one field, ascending: the bare field name when it
// is plain, bracketed when not (see sqlName); empty for an empty name.
QString sortExpression(const QString& field);

}  // namespace browser
