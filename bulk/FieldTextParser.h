#pragma once

// Reads the commonest value lines of the table text file without the engine's general conversions
// (a date costs the engine a time-zone lookup): whole numbers for Byte, Integer and Long fields,
// currency amounts of up to four decimals, "True" / "False", and dates in the forms export writes
// (the short date form, optionally a blank and the time form, under the current locale) or in ISO
// form. Each gives exactly the value the engine's own conversion would; a locale-form date is
// taken only when it reads back to the very same text. Anything else is left to the engine.

#include <QString>
#include <optional>
#include <vector>

#include "platform/dao/Variant.h"

namespace bulk {

class FieldTextParser {
public:
    // Takes the current locale's forms.
    FieldTextParser();

    // The value of `text` for a field of `fieldType`, or nothing when the engine must convert it.
    std::optional<dao::Variant> parse(const QString& text, int fieldType) const;
    std::optional<dao::Variant> parseDate(const QString& text) const;

private:
    enum class Part { Literal, Day, Month, Year, Hour12, Hour24, Minute, Second, AmPm };
    struct Token {
        Part part;
        int digits;  // 0: one or two digits; otherwise exactly this many
        QString literal;
    };
    using Pattern = std::vector<Token>;
    static std::optional<Pattern> compile(const QString& format);
    std::optional<double> match(const Pattern& p, const QString& text) const;

    std::vector<Pattern> localForms_;
    std::vector<Pattern> isoForms_;
    QString am_, pm_;
    QChar decimalPoint_;
};

}  // namespace bulk
