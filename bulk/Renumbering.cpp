#include "Renumbering.h"

#include <cmath>
#include <limits>

#include "platform/dao/Conversions.h"
#include "platform/dao/Error.h"
#include "platform/dao/SqliteFunctions.h"

namespace bulk {

namespace {

enum Kind { Number, Text, Bytes };

Kind kindOf(const dao::Variant& v) {
    switch (v.type()) {
        case dao::Variant::Type::String: return Text;
        case dao::Variant::Type::Binary: return Bytes;
        default: return Number;
    }
}

// Numbers are compared as numbers, so 0 and -0 are one value.
double numberKey(const dao::Variant& v) {
    if (v.isEmpty()) return 0.0;
    const double d = v.asDouble();
    return d == 0.0 ? 0.0 : d;
}

}  // namespace

int* Renumbering::Counts::find(const dao::Variant& v, bool create) {
    switch (kindOf(v)) {
        case Text: {
            auto it = texts.find(v.asString());
            if (it == texts.end()) {
                if (!create) return nullptr;
                it = texts.insert(v.asString(), 0);
            }
            return &it.value();
        }
        case Bytes: {
            auto it = binaries.find(v.asBinary());
            if (it == binaries.end()) {
                if (!create) return nullptr;
                it = binaries.insert(v.asBinary(), 0);
            }
            return &it.value();
        }
        case Number:
            break;
    }
    const double key = numberKey(v);
    if (!create) {
        const auto it = numbers.find(key);
        return it == numbers.end() ? nullptr : &it->second;
    }
    return &numbers[key];
}

Renumbering::Renumbering(std::vector<dao::Variant> values, int fieldType, const std::vector<dao::Variant>& others)
    : values_(std::move(values)), type_(fieldType) {
    ahead_.numbers.reserve(values_.size());
    for (const dao::Variant& v : values_) {
        if (v.isNull()) continue;
        ++*ahead_.find(v, true);
        raiseHighest(v);
    }
    held_ = ahead_;
    for (const dao::Variant& v : others) {
        if (v.isNull()) continue;
        ++*held_.find(v, true);
        raiseHighest(v);
    }
}

bool Renumbering::isDuplicate(size_t index) {
    const dao::Variant& v = values_[index];
    if (v.isNull()) return false;
    int* remaining = ahead_.find(v, false);
    if (!remaining) return false;
    --*remaining;
    return *remaining > 0;
}

int32_t Renumbering::proposal() {
    // The value of the highest record read back as a number, plus one, as a 32-bit integer
    // (halves to even); no value at all counts as 0.
    const double base = highest_.isNull() ? 0.0 : dao::leadingNumber(dao::valueToText(highest_));
    const double first = std::nearbyint(base + 1.0);
    if (!(first >= double(std::numeric_limits<int32_t>::min()) && first <= double(std::numeric_limits<int32_t>::max())))
        dao::raise(dao::err::Overflow);
    int64_t candidate = int64_t(first);
    // Values from the same base on were held or handed out already: count on from the last one.
    if (given_ && base == lastBase_ && lastGiven_ >= candidate) candidate = lastGiven_ + 1;
    for (;; ++candidate) {
        if (candidate > std::numeric_limits<int32_t>::max()) dao::raise(dao::err::Overflow);
        dao::Variant stored = dao::Variant::fromLong(int32_t(candidate));
        try {
            stored = dao::coerceToFieldType(stored, type_);
        } catch (const dao::Error&) {
            break;  // the field will refuse it; nothing to compare with
        }
        if (!held(stored)) break;
    }
    pendingBase_ = base;
    pendingGiven_ = candidate;
    return int32_t(candidate);
}

void Renumbering::accepted(size_t index, const dao::Variant& stored) {
    hold(values_[index], -1);
    values_[index] = stored;
    hold(stored, +1);
    raiseHighest(stored);
    lastBase_ = pendingBase_;
    lastGiven_ = pendingGiven_;
    given_ = true;
}

void Renumbering::hold(const dao::Variant& v, int delta) {
    if (v.isNull()) return;
    *held_.find(v, true) += delta;
}

bool Renumbering::held(const dao::Variant& v) {
    if (v.isNull()) return false;
    const int* c = held_.find(v, false);
    return c && *c > 0;
}

void Renumbering::raiseHighest(const dao::Variant& v) {
    if (v.isNull()) return;
    if (highest_.isNull() || compare(v, highest_) > 0) highest_ = v;
}

int Renumbering::compare(const dao::Variant& a, const dao::Variant& b) {
    const Kind ka = kindOf(a), kb = kindOf(b);
    if (ka != kb) return ka < kb ? -1 : 1;
    switch (ka) {
        case Number: {
            const double x = numberKey(a), y = numberKey(b);
            return x < y ? -1 : x > y ? 1 : 0;
        }
        case Text: return dao::jetCompare(a.asString(), b.asString());
        case Bytes: return a.asBinary() < b.asBinary() ? -1 : a.asBinary() > b.asBinary() ? 1 : 0;
    }
    return 0;
}

}  // namespace bulk
