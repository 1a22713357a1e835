#include "FieldTypes.h"

#include <QDate>
#include <QRegularExpression>

#include "Variant.h"

namespace dao {

bool isNumberField(int type) {
    switch (type) {
        case dbByte:
        case dbInteger:
        case dbLong:
        case dbCurrency:
        case dbSingle:
        case dbDouble:
        case dbNumeric:
        case dbDecimal:
        case dbFloat: return true;
        default: return false;
    }
}

QString storedDateText(int year, int month, int day, int hour, int minute, int second) {
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
}

QString storedDateText(double dayNumber) {
    const QDateTime dt = Variant::dateTimeFromDayNumber(dayNumber);
    const QDate d = dt.date();
    const QTime t = dt.time();
    return storedDateText(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

bool parseStoredDate(const char* s, int n, double* out) {
    auto digits = [&](int at, int len, int& v) {
        if (at + len > n) return false;
        v = 0;
        for (int i = at; i < at + len; ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            v = v * 10 + (s[i] - '0');
        }
        return true;
    };
    int y, mo, d, h = 0, mi = 0, se = 0;
    if (n < 10 || !digits(0, 4, y) || s[4] != '-' || !digits(5, 2, mo) || s[7] != '-' || !digits(8, 2, d))
        return false;
    if (n > 10) {
        if ((s[10] != ' ' && s[10] != 'T') || !digits(11, 2, h) || n < 16 || s[13] != ':' || !digits(14, 2, mi))
            return false;
        if (n > 16) {
            if (s[16] != ':' || !digits(17, 2, se)) return false;
            if (n > 19) {  // a fraction of a second, dropped
                if (s[19] != '.' || n == 20) return false;
                for (int i = 20; i < n; ++i)
                    if (s[i] < '0' || s[i] > '9') return false;
            }
        }
    }
    const QDate date(y, mo, d);
    if (!date.isValid() || h > 23 || mi > 59 || se > 59) return false;
    static const qint64 epoch = QDate(1899, 12, 30).toJulianDay();
    const double days = double(date.toJulianDay() - epoch);
    const double frac = (h * 3600 + mi * 60 + se) / 86400.0;
    *out = days >= 0 ? days + frac : days - frac;
    return true;
}

bool parseStoredDate(const QString& text, double* dayNumber) {
    const QByteArray u = text.trimmed().toLatin1();
    return parseStoredDate(u.constData(), int(u.size()), dayNumber);
}

int fixedSizeOf(int type) {
    switch (type) {
        case dbBoolean: return 1;
        case dbByte: return 1;
        case dbInteger: return 2;
        case dbLong: return 4;
        case dbCurrency: return 8;
        case dbSingle: return 4;
        case dbDouble: return 8;
        case dbDate: return 8;
        case dbGUID: return 16;
        case dbNumeric: return 8;
        case dbDecimal: return 17;
        case dbFloat: return 8;
        default: return 0;
    }
}

DeclaredType fieldTypeFromDeclared(const QString& declared) {
    static const QRegularExpression re(QStringLiteral("^\\s*([A-Za-z_][A-Za-z_ 0-9]*?)\\s*(?:\\(\\s*(\\d+)"
                                                      "\\s*(?:,\\s*\\d+\\s*)?\\))?\\s*$"));
    const QString decl = declared.trimmed().toUpper();
    if (decl.isEmpty()) return {dbMemo, 0};
    QString name = decl;
    int n = -1;
    const auto m = re.match(decl);
    if (m.hasMatch()) {
        name = m.captured(1).simplified();
        if (!m.captured(2).isEmpty()) n = m.captured(2).toInt();
    }
    auto fixed = [](int t) { return DeclaredType{t, fixedSizeOf(t)}; };
    if (name == "YESNO" || name == "BIT" || name == "BOOLEAN" || name == "BOOL" || name == "LOGICAL")
        return fixed(dbBoolean);
    if (name == "BYTE" || name == "TINYINT") return fixed(dbByte);
    if (name == "SHORT" || name == "SMALLINT") return fixed(dbInteger);
    if (name == "LONG" || name == "INT" || name == "INTEGER" || name == "COUNTER" || name == "AUTOINCREMENT")
        return fixed(dbLong);
    if (name == "CURRENCY" || name == "MONEY") return fixed(dbCurrency);
    if (name == "SINGLE") return fixed(dbSingle);
    if (name == "DOUBLE" || name == "FLOAT" || name == "REAL" || name == "DOUBLE PRECISION") return fixed(dbDouble);
    if (name == "DATETIME" || name == "DATE" || name == "TIME" || name == "TIMESTAMP") return fixed(dbDate);
    if (name == "BINARY" || name == "VARBINARY") return {dbBinary, n > 0 ? n : 255};
    if (name == "TEXT" || name == "VARCHAR" || name == "CHAR" || name == "NVARCHAR" || name == "NCHAR" ||
        name == "CHARACTER" || name == "VARYING CHARACTER" || name == "NATIVE CHARACTER") {
        if (n > 0) return {dbText, n};
        return {dbMemo, 0};
    }
    if (name == "LONGBINARY" || name == "OLEOBJECT" || name == "BLOB") return {dbLongBinary, 0};
    if (name == "MEMO" || name == "LONGTEXT" || name == "CLOB" || name == "NOTE") return {dbMemo, 0};
    if (name == "GUID" || name == "UNIQUEIDENTIFIER") return fixed(dbGUID);
    if (name == "NUMERIC") return fixed(dbNumeric);
    if (name == "DECIMAL") return fixed(dbDecimal);
    // SQLite's affinity rules for everything else.
    if (decl.contains("INT")) return fixed(dbLong);
    if (decl.contains("CHAR") || decl.contains("CLOB") || decl.contains("TEXT")) {
        if (n > 0) return {dbText, n};
        return {dbMemo, 0};
    }
    if (decl.contains("BLOB")) return {dbLongBinary, 0};
    if (decl.contains("REAL") || decl.contains("FLOA") || decl.contains("DOUB")) return fixed(dbDouble);
    return fixed(dbNumeric);
}

QString declaredTypeFor(int type, int size) {
    switch (type) {
        case dbBoolean: return "YESNO";
        case dbByte: return "BYTE";
        case dbInteger: return "SHORT";
        case dbLong: return "LONG";
        case dbCurrency: return "CURRENCY";
        case dbSingle: return "SINGLE";
        case dbDouble: return "DOUBLE";
        case dbFloat: return "DOUBLE";
        case dbDate: return "DATETIME";
        case dbBinary: return QString("BINARY(%1)").arg(size > 0 ? size : 255);
        case dbText: return QString("TEXT(%1)").arg(size > 0 ? size : 255);
        case dbLongBinary: return "LONGBINARY";
        case dbGUID: return "GUID";
        case dbNumeric: return "NUMERIC";
        case dbDecimal: return "DECIMAL";
        case dbMemo:
        default: return "LONGTEXT";  // TEXT affinity: SQLite keeps "00123" as text
    }
}

}  // namespace dao
