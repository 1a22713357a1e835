#pragma once

// The index key bytes of a text value: each character's inline code, an end mark, then the extra
// (accent) codes and the codes of unprintable characters, each part only when there is one; in a
// descending column every byte after the flag is inverted.

#include <QByteArray>
#include <QString>
#include <optional>

#include "JetSortCodes.h"

namespace dao::jet {

class JetTextKey {
public:
    // Characters a key holds at most (the rest of a longer value would be cut off).
    static constexpr int kMaxChars = 127;

    // The key of a non-Null value, flag byte included; nullopt with the reason (naming the
    // character) when a character has no known code, when its bytes hang on a count of places no
    // written key has shown, or when the value is too long to be keyed safely.
    static std::optional<QByteArray> encode(const JetSortCodes& codes, const QString& text, bool ascending,
                                            QString* why = nullptr);
};

}  // namespace dao::jet
