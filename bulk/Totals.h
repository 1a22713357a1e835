#pragma once

// Totals: the sum of one field over every record, formatted "###,###.00" ("$###,###.00" for a
// currency field): thousands grouped, two decimals, no digit before the separator for a whole part
// of 0. Null values are skipped, as SQL's SUM skips them, and counted. The current record is the
// same before and after.

#include <QString>

#include "platform/dao/Variant.h"

namespace dao {
class Database;
class Recordset;
}

namespace bulk {

class Totals {
public:
    struct Result {
        bool ran = false;    // the field is one of the recordset's
        dao::Variant total;  // the variant sum (Empty over no records)
        int fieldType = 0;
        qint64 records = 0;
        qint64 nullsSkipped = 0;
        QString text;  // as SummaryTxT shows it
    };

    // The sum of the named field over the records of `rs`. A name that is not a field of the
    // recordset does nothing. With the recordset's database, an Integer, Long or Currency total is
    // one exact aggregate over the recordset's source (walking a million records through the
    // recordset costs several times as much); otherwise `rs` itself is walked, its current record
    // put back afterwards.
    // Engine errors (an overflowing currency sum, a value that is not a number) reach the caller,
    // with the current record put back.
    static Result run(dao::Recordset& rs, const QString& fieldName, dao::Database* db = nullptr);

    // The display form of a total for a field of the given type.
    static QString format(const dao::Variant& total, int fieldType);

    // What is said beside the total when Null values were skipped ("" when none were).
    static QString nullsNote(qint64 nullsSkipped);
};

}  // namespace bulk
