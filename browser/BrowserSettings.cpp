#include "BrowserSettings.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>

#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "platform/dao/Conversions.h"

namespace browser {

namespace {

const QString kSettingsSection = QStringLiteral("Settings");
constexpr double kMaxColumnWidthTwips = 1440.0 * 100;  // a hundred inches

// The texts the leading-number conversion reads a number from (after it drops blanks): a sign, then
// digits or a period and digits, or a hexadecimal / octal prefix with a digit.
bool holdsNumber(const QString& text) {
    QString s = text;
    s.remove(QRegularExpression(QStringLiteral("[ \\t\\r\\n]")));
    static const QRegularExpression number(
        QStringLiteral("^([+-]?(\\d|\\.\\d)|&[Hh][0-9A-Fa-f]|&[Oo][0-7])"));
    return number.match(s).hasMatch();
}

int indexSetting(const QString& table, const QString& key, int fallback) {
    const QString stored = platform::GetSetting(platform::appTitle(), table, key, QString::number(fallback));
    return storedWholeNumber(stored).value_or(fallback);
}

}  // namespace

std::optional<int> storedWholeNumber(const QString& text) {
    if (!holdsNumber(text)) return std::nullopt;
    const double d = std::nearbyint(dao::leadingNumber(text));  // ties to even, as classic rounding
    if (!std::isfinite(d) || d < std::numeric_limits<int>::min() || d > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(d);
}

TableSettings readTableSettings(const QString& table) {
    TableSettings s;
    s.orderByBox = indexSetting(table, QStringLiteral("OrderByBox"), -1);
    s.operatorCombo = indexSetting(table, QStringLiteral("OperatorCombo"), 0);
    s.fastSearch = indexSetting(table, QStringLiteral("FastSearch"), 1);
    s.lastQuery = platform::GetSetting(platform::appTitle(), table, QStringLiteral("LastQuery"));
    return s;
}

void writeTableSettings(const QString& table, const TableSettings& s) {
    const QString app = platform::appTitle();
    platform::SaveSetting(app, table, QStringLiteral("OrderByBox"), QString::number(s.orderByBox));
    platform::SaveSetting(app, table, QStringLiteral("OperatorCombo"), QString::number(s.operatorCombo));
    platform::SaveSetting(app, table, QStringLiteral("FastSearch"), QString::number(s.fastSearch));
    platform::SaveSetting(app, table, QStringLiteral("LastQuery"), s.lastQuery);
}

QString columnWidthKey(const QString& table, int column) {
    return table + QStringLiteral("ColWidth") + QString::number(column);
}

double readColumnWidth(const QString& table, int column) {
    const QString stored = platform::GetSetting(platform::appTitle(), kSettingsSection,
                                                columnWidthKey(table, column), QStringLiteral("1500"));
    if (!holdsNumber(stored)) return DefaultColumnWidthTwips;
    const double w = dao::leadingNumber(stored);
    if (!std::isfinite(w) || w < 0 || w > kMaxColumnWidthTwips) return DefaultColumnWidthTwips;
    return w;
}

bool hasColumnWidth(const QString& table, int column) {
    return !platform::GetSetting(platform::appTitle(), kSettingsSection, columnWidthKey(table, column), QString())
                .isEmpty();
}

void writeColumnWidth(const QString& table, int column, double twips) {
    platform::SaveSetting(platform::appTitle(), kSettingsSection, columnWidthKey(table, column),
                          QString::number(std::lround(twips)));
}

}  // namespace browser
