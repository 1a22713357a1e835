#pragma once

// The look-up hint of a text row: the greatest value of the field that contains the typed text,
// under the engine's comparison rules (case-insensitive contains-match, Jet text order).

#include <QString>
#include <optional>

namespace dataentry {

// The Jet SQL that finds the hint: one record, the greatest matching value. The typed text has its
// apostrophes doubled, so any text is taken as typed; the engine's wildcards in it keep their
// meaning. The table name is quoted when it needs it.
QString lookupHintSql(const QString& table, const QString& field, const QString& typed);

// Opens the database, checks that field `fieldIndex` of the table is a text field and that the
// table has records, and returns the greatest value containing `typed`; std::nullopt when the
// field is not text, the table is empty, or nothing matches. Engine errors (a missing file or
// table) raise dao::Error.
std::optional<QString> lookupHint(const QString& databaseName, const QString& table, int fieldIndex,
                                  const QString& typed);

// A table name as written into a record source: a plain name stays as it is, one that needs
// quoting (blanks, accents, keywords) gets brackets. A name given in brackets or backquotes is taken
// without them first, so "[Mi tabla]" and "Mi tabla" name the same table.
QString tableNameSql(const QString& table);

}  // namespace dataentry
