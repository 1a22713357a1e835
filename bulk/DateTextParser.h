#pragma once

// Reads a date line of the table text file without the engine's general date parsing, which costs a
// time-zone lookup per value: the forms export writes (the short date form, optionally followed by
// a blank and the time form, under the current locale) and the ISO forms. A locale-form result is
// taken only when it reads back to the very same text, so it is the value the engine's own
// conversion would give; anything else is left to the engine.

#include <QString>
#include <optional>
#include <vector>

#include "platform/dao/Variant.h"

namespace bulk {

class DateTextParser {
public:
    // Takes the current locale's forms.
    DateTextParser();

    std::optional<dao::Variant> parse(const QString& text) const;

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
};

}  // namespace bulk
