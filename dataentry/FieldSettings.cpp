#include "FieldSettings.h"

#include "platform/dao/Error.h"

namespace dataentry {

FieldSettings::Entry& FieldSettings::at(int index) {
    if (!inRange(index)) dao::raise(dao::err::SubscriptOutOfRange);
    return entries_[size_t(index)];
}

const FieldSettings::Entry& FieldSettings::at(int index) const {
    if (!inRange(index)) dao::raise(dao::err::SubscriptOutOfRange);
    return entries_[size_t(index)];
}

void FieldSettings::clear() {
    entries_.fill(Entry());
}

}  // namespace dataentry
