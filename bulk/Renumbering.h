#pragma once

// Which records verify renumbers and which values they receive, in one pass over the records in
// record-source order. In every group of records sharing a value all but the last receive new
// values; the last keeps its value; Nulls are never changed. A new value is the leading number of
// the highest value plus one, and it is never a value some record already holds: on a text field
// the highest value in text order ("9" above "10") would otherwise hand out the same value again.
//
//   Renumbering plan(values, type);          // the field's values in record-source order
//   for (i = 0 .. n-1)
//       if (plan.isDuplicate(i)) { v = plan.proposal(); ...write v...; plan.accepted(i, stored); }

#include <QHash>
#include <QString>
#include <cstdint>
#include <vector>

#include "platform/dao/Variant.h"

namespace bulk {

class Renumbering {
public:
    // `values`: the field's values of the records to check, in order. `others`: the field's values in
    // the rest of the table when those records are a part of it (a filtered record source; the
    // records themselves may be among them): they count for the highest value and the values held,
    // never as duplicates.
    Renumbering(std::vector<dao::Variant> values, int fieldType, const std::vector<dao::Variant>& others = {});

    // Whether the record at `index` shares its value with a record after it. Call once per record,
    // in order.
    bool isDuplicate(size_t index);

    // The value to give next. Raises 6 (Overflow) when it does not fit a 32-bit integer.
    int32_t proposal();
    // The record at `index` now holds `stored` (the proposal as the field keeps it).
    void accepted(size_t index, const dao::Variant& stored);

    // The highest value so far in the engine's order (Null when no record holds a value).
    const dao::Variant& highest() const { return highest_; }

    // The engine's ascending order of two non-Null values: numbers (dates, yes/no) by value, then
    // texts in the engine's text order, then binary data.
    static int compare(const dao::Variant& a, const dao::Variant& b);

private:
    // Per value: the records after the current one that hold it, and all records that hold it.
    struct Tally {
        int ahead = 0;
        int held = 0;
    };
    // Numbers in an open-addressing table (a million values, no allocation per value), and whole
    // numbers of a compact range (identifiers) in a plain array indexed by value; texts and binary
    // data in hashes.
    class NumberTallies {
    public:
        void reserve(size_t n);
        // Whole numbers from `low` to `high` go to the array.
        void setDenseRange(double low, double high);
        Tally* find(double key, bool create);

    private:
        Tally* findHashed(double key, bool create);
        void grow();
        double denseLow_ = 0;
        std::vector<Tally> dense_;
        std::vector<uint64_t> keys_;
        std::vector<Tally> tallies_;
        std::vector<uint8_t> used_;
        size_t count_ = 0;
        size_t mask_ = 0;
    };
    Tally* tally(const dao::Variant& v, bool create);
    void hold(const dao::Variant& v, int delta);
    bool held(const dao::Variant& v);
    void raiseHighest(const dao::Variant& v);

    NumberTallies numbers_;
    QHash<QString, Tally> texts_;
    QHash<QByteArray, Tally> binaries_;
    std::vector<dao::Variant> values_;
    int type_;
    dao::Variant highest_ = dao::Variant::null();
    double lastBase_ = 0;
    double pendingBase_ = 0;
    int64_t pendingGiven_ = 0;
    int64_t lastGiven_ = 0;
    bool given_ = false;
};

}  // namespace bulk
