#pragma once

#include <QLocale>
#include <QString>
#include <optional>

#include "Variant.h"

// The value rules every window relies on. All locale-dependent forms use QLocale() (the default
// locale, which is the system's unless a test pins another with QLocale::setDefault). Under the C
// locale numbers use '.' and dates "yyyy-MM-dd"; a short date always has a four-digit year.
namespace dao {

// Leading-number conversion: blanks, tabs and line feeds (CR and LF) removed wherever they stand,
// optional sign, digits, '.' + digits, E/D exponent; &H / &O prefixes read hex / octal integers.
// Stops at the first character that cannot continue the number; no number gives 0. Never fails:
// &H / &O give the plain (unsigned) value, an exponent beyond the double range gives ±infinity.
double leadingNumber(const QString& text);

// A number typed or shown in the locale's form, read as convertForType reads it (the locale's
// decimal and group separators, an E exponent, nothing else); nothing when the text is not one.
std::optional<double> localeNumber(const QString& text);

// A number typed into a tool's input (the constant of an operation): the locale's form without
// group separators when the whole text is one ("1,5" under a comma locale is 1.5), otherwise its
// leading number ("1.5", "12abc" -> 12, "" -> 0).
double typedNumber(const QString& text);

// A field value as a number without passing through its text: numbers as they are, a date as its
// day number, Yes/No as -1/0, Empty 0, text by its leading number. Null: Error 94; binary data:
// Error 13.
double numberOf(const Variant& v);

// Value-to-text conversion: numbers in the locale's form with its decimal separator, no grouping,
// no currency sign; dates in the short date form (+ time when not midnight); "True"/"False";
// text as is; Empty -> "". Null throws Error 94.
// Double shows up to 15 significant digits, Single up to 7, in fixed notation unless the decimal
// exponent is below -4 or reaches that digit count ("1E+20", "1.5E-05"); Currency and Decimal
// exactly. Integers and signs always use '-'. A date shows shortDateFormat(), then ' ' and
// timeFormat() when its time is not midnight ("12/31/2020 1:05:00 PM"). Binary data has no text
// form and shows as "(binary N bytes)".
QString valueToText(const Variant& v);

// A whole number as the engine reads it from a 64-bit integer column: a Long within 32 bits, past
// them a Decimal of its exact digits (a Double would keep only 15 of them).
Variant wholeNumber(int64_t v);

// Shortest round-trip decimal text of a double with the given decimal separator, no grouping,
// no exponent for ordinary magnitudes ("1.5", "60000", "-0.25"); below 1e-7 or from 1e21 on the
// form is "1E+21".
QString shortestNumberText(double d, QChar decimalPoint = QLatin1Char('.'));

// The locale's short date format, with a four-digit year ("M/d/yyyy"); and the time format used
// with it: the locale's long time format without its time zone ("h:mm:ss AP"). The C locale gives
// "yyyy-MM-dd" and "HH:mm:ss".
QString shortDateFormat();
QString timeFormat();

// Comparing a field value with a text: value-to-text, then case-sensitive comparison.
// Null -> std::nullopt (unknown, which callers treat as not true for both = and <>).
std::optional<bool> fieldEqualsText(const Variant& value, const QString& text);

// Variant addition: Empty + n = n; Integer -> Long -> Double on overflow; Currency contagious;
// Null contagious; strings are read as numbers (Error 13 when they are not).
// Precision order Byte < Integer < Long < Single < Double < Currency < Decimal picks the result
// type (so Currency + Double is Currency); Boolean counts as Integer -1/0; Byte overflow -> Integer,
// Single + Long and Single overflow -> Double; Currency overflow -> Error 6; Decimal sums are exact.
// A Date with anything gives a Date (a Double outside the date range). Empty + Empty = Integer 0.
// Binary operands -> Error 13.
Variant variantAdd(const Variant& a, const Variant& b);

// Numeric formats "###,###.00" and "$###,###.00" and the like: '#' and '0' digit placeholders,
// ',' grouping (locale's group separator), '.' the locale's decimal separator, other characters
// literal ('\\x' and "..." too). Rounded half away from zero to the pattern's decimals, on the
// shortest decimal form of the value (2.005 -> 2.01); '#' placeholders before the separator print no
// digit for a zero whole part, a '0' forces digits from its place rightwards; trailing '#'
// decimals drop trailing zeros. A minus sign goes in front of everything, and is dropped when the
// rounded value is zero. Literals before the first placeholder lead the number, all other literals
// follow it.
QString formatNumber(double value, const QString& pattern);

// A value formatted with a digit/literal mask used as a format pattern ("(###) ###-####",
// "##/##/####"): the value's digits fill the '#' / '0' / '9' positions from the right, literals
// are kept ('\\x' is the literal x). An empty pattern gives the value's text unchanged.
// Only the value's digits are used (other characters are dropped); a value without digits is
// returned unchanged. Extra digits all go into the leftmost placeholder; unfilled '#' / '9'
// positions print nothing, unfilled '0' positions print 0; literals are always kept, so
// ("7", "(###) ###-####") gives "() -7".
QString formatWithMask(const QString& value, const QString& pattern);

// Conversions of the data-entry validation, by field type code: 3 -> Integer (16-bit), 4 -> Long,
// 21 -> Double, 20 -> Decimal, 8 -> Date (system date format), 5 -> Currency, 19 -> Double (the
// locale's form, or else the leading number).
// The value stored is the value this gives, never the text read again some other way. Locale-aware parsing (decimal and group separators of QLocale()).
// Out of range -> Error 6 (Overflow); not a number / not a date / empty -> Error 13.
// Numbers: blanks around them, a sign, group separators anywhere in the whole part, the decimal
// separator, an E exponent; nothing else. Integer types round half to even ("1.5" -> 2), Currency
// half to even at 4 decimals. Dates: shortDateFormat(), optionally followed by a time in
// timeFormat() or the locale's short time format; years 100..9999.
// Other type codes return the text as a String. The standard text form is valueToText(result).
Variant convertForType(const QString& text, int typeCode);

// Coercions used when a value is assigned to a field of a given engine type code; throw Error
// 3421 (conversion) or 6 (overflow) when the value cannot be taken. Null and Empty give Null.
// Numbers in text are read as convertForType reads them. 1: "True"/"Yes"/"On", "False"/"No"/"Off"
// (any case) or a number (0 False, else True). 2/3/4: round half to even, out of range -> 6.
// 5: half to even at 4 decimals. 6/7/19/21: floating. 8: a day number, or text in ISO form
// ("yyyy-MM-dd", with " HH:mm[:ss]" or "T...") or the locale's short date form. 10/12: valueToText
// (Binary decoded as UTF-8). 9/11: Binary kept, anything else the UTF-8 of its text. 15: a GUID
// text, normalised to "{XXXXXXXX-...}" upper case. 20: Decimal canonical text (floating values by
// their displayed digits). Other codes return the value unchanged.
Variant coerceToFieldType(const Variant& v, int typeCode);

}  // namespace dao
