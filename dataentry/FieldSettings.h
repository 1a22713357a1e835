#pragma once

// The data-entry control's per-field settings, one entry per field position 0..1000 (the same
// index as the rows' controls). The host fills them between creating the control and showing it;
// they survive rebuilding the form and last until Clear.

#include <QString>
#include <array>

namespace dataentry {

class FieldSettings {
public:
    static constexpr int Size = 1001;

    struct Entry {
        QString PrevValue;      // the text the input held when it last lost the focus
        QString DefaultValue;   // initial text of the input, and again after each save
        bool IsDisabled = false;
        QString MaskText;       // the input's mask (empty: none)
        bool HasBrowse = false; // the row shows its "Browse" button
        qint32 IncrementStep = 0;  // after a save the input holds its value + this step
        bool IsInvisible = false;  // the row is hidden
    };

    static bool inRange(int index) { return index >= 0 && index < Size; }

    // Raises dao::Error 9 (subscript out of range) outside 0..1000.
    Entry& at(int index);
    const Entry& at(int index) const;

    // Strings empty, flags False, steps 0.
    void clear();

private:
    std::array<Entry, Size> entries_;
};

}  // namespace dataentry
