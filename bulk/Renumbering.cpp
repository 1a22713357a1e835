#include "Renumbering.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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

void Renumbering::NumberTallies::reserve(size_t n) {
    size_t capacity = 64;
    while (capacity < 2 * n) capacity *= 2;
    keys_.assign(capacity, 0);
    tallies_.assign(capacity, Tally());
    used_.assign(capacity, 0);
    mask_ = capacity - 1;
    count_ = 0;
}

void Renumbering::NumberTallies::grow() {
    std::vector<uint64_t> keys = std::move(keys_);
    std::vector<Tally> tallies = std::move(tallies_);
    std::vector<uint8_t> used = std::move(used_);
    reserve(keys.size());  // twice the old capacity: reserve() sizes for 2n
    for (size_t i = 0; i < keys.size(); ++i) {
        if (!used[i]) continue;
        double d;
        std::memcpy(&d, &keys[i], sizeof d);
        *findHashed(d, true) = tallies[i];
    }
}

void Renumbering::NumberTallies::setDenseRange(double low, double high) {
    denseLow_ = low;
    dense_.assign(size_t(high - low) + 1, Tally());
}

Renumbering::Tally* Renumbering::NumberTallies::find(double key, bool create) {
    const double offset = key - denseLow_;
    if (offset >= 0 && offset < double(dense_.size()) && offset == std::floor(offset)) return &dense_[size_t(offset)];
    return findHashed(key, create);
}

Renumbering::Tally* Renumbering::NumberTallies::findHashed(double key, bool create) {
    if (keys_.empty()) {
        if (!create) return nullptr;
        reserve(16);
    }
    uint64_t bits;
    std::memcpy(&bits, &key, sizeof bits);
    uint64_t h = bits * 0x9E3779B97F4A7C15ULL;
    h ^= h >> 29;
    for (size_t i = size_t(h) & mask_;; i = (i + 1) & mask_) {
        if (!used_[i]) {
            if (!create) return nullptr;
            if (2 * (count_ + 1) > keys_.size()) {
                grow();
                return findHashed(key, true);
            }
            used_[i] = 1;
            keys_[i] = bits;
            tallies_[i] = Tally();
            ++count_;
            return &tallies_[i];
        }
        if (keys_[i] == bits) return &tallies_[i];
    }
}

Renumbering::Tally* Renumbering::tally(const dao::Variant& v, bool create) {
    switch (kindOf(v)) {
        case Text: {
            auto it = texts_.find(v.asString());
            if (it == texts_.end()) {
                if (!create) return nullptr;
                it = texts_.insert(v.asString(), Tally());
            }
            return &it.value();
        }
        case Bytes: {
            auto it = binaries_.find(v.asBinary());
            if (it == binaries_.end()) {
                if (!create) return nullptr;
                it = binaries_.insert(v.asBinary(), Tally());
            }
            return &it.value();
        }
        case Number:
            break;
    }
    return numbers_.find(numberKey(v), create);
}

Renumbering::Renumbering(std::vector<dao::Variant> values, int fieldType, const std::vector<dao::Variant>& others)
    : values_(std::move(values)), type_(fieldType) {
    // Identifiers are whole numbers in a range not much wider than their count: tally them in an array.
    double low = 0, high = -1;
    bool whole = true;
    size_t count = 0;
    for (const std::vector<dao::Variant>* list : std::initializer_list<const std::vector<dao::Variant>*>{&values_, &others})
        for (const dao::Variant& v : *list) {
            if (v.isNull()) continue;
            if (kindOf(v) != Number) continue;
            const double d = numberKey(v);
            if (d != std::floor(d) || std::fabs(d) > 1e15) whole = false;
            if (count++ == 0) low = high = d;
            low = std::min(low, d);
            high = std::max(high, d);
        }
    if (whole && count > 0 && high - low < 4.0 * double(count) + 1024.0) {
        numbers_.setDenseRange(low, high);
        numbers_.reserve(1024);
    } else {
        numbers_.reserve(values_.size() + others.size());
    }
    for (const dao::Variant& v : values_) {
        if (v.isNull()) continue;
        Tally* t = tally(v, true);
        ++t->ahead;
        ++t->held;
        raiseHighest(v);
    }
    for (const dao::Variant& v : others) {
        if (v.isNull()) continue;
        ++tally(v, true)->held;
        raiseHighest(v);
    }
}

bool Renumbering::isDuplicate(size_t index) {
    const dao::Variant& v = values_[index];
    if (v.isNull()) return false;
    Tally* t = tally(v, false);
    if (!t) return false;
    --t->ahead;
    return t->ahead > 0;
}

int32_t Renumbering::proposal() {
    // The value of the highest record read back as a number, plus one, as a 32-bit integer
    // (halves to even); no value at all counts as 0.
    // A number is taken as it is (its text under a comma locale would lose the fraction); a text by
    // its leading number.
    const double base = highest_.isNull()                             ? 0.0
                        : highest_.type() == dao::Variant::Type::String ? dao::leadingNumber(highest_.asString())
                        : highest_.isNumeric()                          ? highest_.asDouble()
                                                                        : dao::leadingNumber(dao::valueToText(highest_));
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
    tally(v, true)->held += delta;
}

bool Renumbering::held(const dao::Variant& v) {
    if (v.isNull()) return false;
    const Tally* t = tally(v, false);
    return t && t->held > 0;
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
