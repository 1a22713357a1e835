#pragma once

#include <QString>

namespace dao {

// Engine field type codes.
enum FieldType : int {
    dbBoolean = 1,
    dbByte = 2,
    dbInteger = 3,
    dbLong = 4,
    dbCurrency = 5,
    dbSingle = 6,
    dbDouble = 7,
    dbDate = 8,
    dbBinary = 9,
    dbText = 10,
    dbLongBinary = 11,
    dbMemo = 12,
    dbGUID = 15,
    dbBigInt = 16,  // Large Number: a 64-bit whole number
    dbNumeric = 19,
    dbDecimal = 20,
    dbFloat = 21,
};

// A numeric field in the tools' sense (ranges, totals, renumbering): Integer, Long, Large Number, Currency.
inline bool isNumericField(int type) {
    return type == dbInteger || type == dbLong || type == dbBigInt || type == dbCurrency;
}

// A field that holds a number of any kind (shown right-aligned): Byte, Integer, Long, Currency,
// Single, Double, Numeric, Decimal, Float. Yes/No and Date/Time are not numbers here.
bool isNumberField(int type);

// The name of a field type as Access shows it ("Long", "Date/Time", "OLE Object"); the code as
// text for a code without one.
QString fieldTypeName(int type);

// The one stored form of a date in SQLite files, "yyyy-MM-dd HH:mm:ss", written from a day number
// or from its parts; and its reader, which also takes "yyyy-MM-dd", 'T' for the blank, a time
// without seconds and a fraction of a second. False when the text is not in that form.
QString storedDateText(double dayNumber);
QString storedDateText(int year, int month, int day, int hour, int minute, int second);
// The same form from a day number into `out`, without allocating (written for every date a bulk
// insert stores); returns the length.
constexpr int kStoredDateChars = 24;
int storedDateChars(double dayNumber, char (&out)[kStoredDateChars]);
bool parseStoredDate(const char* text, int length, double* dayNumber);
bool parseStoredDate(const QString& text, double* dayNumber);

// Whole day numbers (days since 1899-12-30) to and from a proleptic Gregorian date; every reader and
// writer of stored dates counts days with these.
long long dayNumberFromCivil(long long year, int month, int day);
void civilFromDayNumber(long long dayNumber, long long& year, int& month, int& day);

// Whether year-month-day names a day of the calendar (no 2023-02-29, no April 31).
bool isCalendarDate(long long year, int month, int day);

// The stored-date rule, the one every reader and writer of a day number follows. A day number's
// whole part counts days from 1899-12-30; its fraction is the time of day, and below zero the
// fraction still counts forwards from the start of that day (-1.25 is 1899-12-29 06:00).
// dayNumberFromParts: the day number of calendar day `day` (a whole day number) at `secondsOfDay`.
// splitDayNumber: the calendar day and the time rounded to whole seconds; a time that rounds up to
// midnight is the start of the following calendar day (-1.9999999 is 1899-12-30 00:00:00).
struct DayAndTime {
    long long day = 0;
    int seconds = 0;
};
double dayNumberFromParts(long long day, double secondsOfDay);
DayAndTime splitDayNumber(double dayNumber);
// The day number `days` (whole or not) later than `dayNumber`, counted in time, across 1899-12-30
// too (-1.25 plus 1 is 1899-12-30 06:00, plus 2 is 1899-12-31 06:00).
double addDays(double dayNumber, double days);

struct DeclaredType {
    int type = dbMemo;
    int size = 0;
};

// The engine type of an SQLite column from its declared type (case-insensitive):
// YESNO/BIT/BOOLEAN 1, BYTE/TINYINT 2, SHORT/SMALLINT 3, LONG/INT/INTEGER/COUNTER/AUTOINCREMENT 4,
// CURRENCY/MONEY 5, SINGLE 6, DOUBLE/FLOAT/REAL 7, DATETIME/DATE/TIME/TIMESTAMP 8,
// BINARY(n)/VARBINARY(n) 9, TEXT(n)/VARCHAR(n)/CHAR(n) 10 (size n), LONGBINARY/OLEOBJECT/BLOB 11,
// MEMO/LONGTEXT/CLOB and plain TEXT 12, GUID 15, NUMERIC 19, DECIMAL 20; anything else by SQLite's
// affinity rules (INT -> 4, CHAR/CLOB/TEXT -> 12, BLOB -> 11, REAL/FLOA/DOUB -> 7, otherwise 19).
// No declared type at all reads as Memo.
DeclaredType fieldTypeFromDeclared(const QString& declared);

// The declared type written for a field of the given engine type (round-trips through the above).
QString declaredTypeFor(int type, int size);

// The storage size reported for fixed-size types.
int fixedSizeOf(int type);

}  // namespace dao
