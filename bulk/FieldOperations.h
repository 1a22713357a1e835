#pragma once

// Field operations: one arithmetic operation with a positive constant on one field of every record.
// The field's value is taken as the number it is, never through its text (dao::numberOf); the
// constant is read by dao::typedNumber (the locale's form, or its leading number). The result, a
// double, is stored back and the engine converts it to the field's type; one past the double range
// fails the step with error 6 and the record keeps its value. A date takes days added or subtracted
// (dao::addDays); multiplying or dividing it fails with error 13. A Null value fails the step
// (error 94).

#include <QString>
#include <functional>

#include "Progress.h"
#include "Prompter.h"

namespace dao {
class Recordset;
}

namespace bulk {

class FieldOperations {
public:
    enum Operation { None = -1, Add = 0, Subtract = 1, Multiply = 2, Divide = 3 };

    struct Inputs {
        QString field;  // empty = none chosen
        int operation = Add;
        QString value;  // the constant, as typed
    };
    struct Result {
        bool ran = false;      // records, a field and a constant above 0
        qint64 visited = 0;    // records passed
        qint64 processed = 0;  // records written
        qint64 failed = 0;     // steps ignored after an error
        bool aborted = false;
        bool stopped = false;  // the user stopped it between two records
    };
    using ReadInputs = std::function<Inputs()>;

    static QString caption();
    // "+", "-", "*", "/" -> the operation; None for anything else.
    static Operation operationFromSign(const QString& sign);
    static double apply(Operation op, double value, double constant);

    // Leaves the recordset past its last record (or where the user chose Abort).
    static Result run(dao::Recordset& rs, const ReadInputs& inputs, Progress& progress = noProgress(),
                      Prompter& prompts = userPrompter());
    static Result run(dao::Recordset& rs, const Inputs& inputs, Progress& progress = noProgress(),
                      Prompter& prompts = userPrompter());
};

}  // namespace bulk
