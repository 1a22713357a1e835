#pragma once

// The property bag a host keeps for each data-entry control it places: named values read with a
// default and written with a default. A value equal to its default is not stored (writing it
// removes an earlier one), so a bag holds only what differs from a fresh control. Names are looked
// up ignoring case; the spelling of the first write is kept.
//
// Values are text (QString), yes/no (bool), whole numbers (qint64) and pictures (QByteArray holding
// PNG bytes). Anything else is stored as its text.
//
// The bag's file ("stored design") is UTF-8 text, one value per line, in writing order:
//
//   # Velloform property bag
//   DatabaseName=s:/home/ana/shop.db
//   UnloadParent=b:True
//   _extentx=i:9790
//   OK_PICTURE=p:iVBORw0KGgo...          (base64 of the PNG bytes)
//
// The name runs up to the first '='; the letter before ':' gives the type (s text, b yes/no with
// "True"/"False", i whole number, p picture). In a text a backslash, a line feed and a carriage
// return are written "\\", "\n" and "\r". Blank lines and lines starting with '#' are comments.

#include <QString>
#include <QStringList>
#include <QVariant>
#include <utility>
#include <vector>

namespace dataentry {

class PropertyBag {
public:
    // The stored value, or defaultValue when the bag has none under that name.
    QVariant ReadProperty(const QString& name, const QVariant& defaultValue = QVariant()) const;
    // Stores the value, or removes the name when the value equals defaultValue.
    void WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue = QVariant());

    bool contains(const QString& name) const;
    QStringList names() const;  // in writing order
    int count() const { return int(items_.size()); }
    bool isEmpty() const { return items_.empty(); }
    void clear() { items_.clear(); }

    // The file form described above. fromText raises dao::Error 13 for a line it cannot read
    // (naming the line), so a damaged file is refused instead of half read.
    QString toText() const;
    static PropertyBag fromText(const QString& text);

    // Reading a missing file gives an empty bag; a file that cannot be read or written raises
    // dao::Error 75 (path/file access error) naming the file. The file is replaced only when the
    // whole bag was written.
    static PropertyBag load(const QString& path);
    void save(const QString& path) const;

private:
    int indexOf(const QString& name) const;
    std::vector<std::pair<QString, QVariant>> items_;
};

// Whether two bag values are the same value (a picture compares by its bytes, a yes/no by its
// truth, numbers by value, text exactly).
bool sameBagValue(const QVariant& a, const QVariant& b);

}  // namespace dataentry
