#pragma once

// The table browser's remembered settings: per table (section = the table's name) the order field,
// operator and automatic-search flag as list indexes, and the last query; in section "Settings" the
// column widths in twips. Values are decimal texts, read through the leading-number conversion.

#include <QString>
#include <optional>

namespace browser {

struct TableSettings {
    int orderByBox = -1;
    int operatorCombo = 0;
    int fastSearch = 1;
    QString lastQuery;
};

// A stored whole number: the leading number of the text, rounded to the nearest whole number. A text
// that holds no number at all (a hand-edited file), or one beyond the int range, gives no value.
std::optional<int> storedWholeNumber(const QString& text);

// The settings of one table, each falling back to its default when absent or not a number.
TableSettings readTableSettings(const QString& table);
void writeTableSettings(const QString& table, const TableSettings& s);

// Column widths: key table + "ColWidth" + position; a stored width that is not a number, or that no
// grid could take (negative, absurdly large), reads as the default 1500 twips.
constexpr double DefaultColumnWidthTwips = 1500;
QString columnWidthKey(const QString& table, int column);
double readColumnWidth(const QString& table, int column);
// Whether a width was ever stored for the column (a new column has none).
bool hasColumnWidth(const QString& table, int column);
void writeColumnWidth(const QString& table, int column, double twips);

}  // namespace browser
