#pragma once

// Small pieces the bulk tools share.

#include <QString>

#include "Progress.h"

namespace dao {
class Recordset;
}

namespace bulk {

// The leading number of a text, read again only when the text changes: a tool's constant comes
// from an input read before every record and is usually the same each time.
class TextNumber {
public:
    // `read` converts the text: the leading number unless another reader is given.
    explicit TextNumber(double (*read)(const QString&) = nullptr) : read_fn_(read) {}
    double of(const QString& text);

private:
    double (*read_fn_)(const QString&);
    QString text_;
    double number_ = 0;
    bool read_ = false;
};

// Calls progress.end() when the tool leaves, however it leaves.
class ProgressScope {
public:
    ProgressScope(Progress& p, const QString& caption, qint64 minimum, qint64 maximum) : p_(p) {
        p_.begin(caption, minimum, maximum);
    }
    ~ProgressScope() { p_.end(); }
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;

private:
    Progress& p_;
};

// A failed step must not leave the record half edited for the next one.
void cancelPendingEdit(dao::Recordset& rs) noexcept;

// True for the text types (Text, Memo), which take text as it is.
bool isTextField(int type);

// Whether the recordset has records, without raising (a closed one has none).
bool hasRecords(dao::Recordset& rs) noexcept;

}  // namespace bulk
