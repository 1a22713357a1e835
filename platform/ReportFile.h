#pragma once

// A report file: a listing described in a small JSON file whose name ends in ".report".
//
//   {
//     "title": "Clientes activos",              listing title (default: the source's name)
//     "source": "Clientes",                     a table name or a select (required)
//     "database": "tienda.db",                  optional; relative to the report file's folder
//     "columns": [                              optional; default every field of the source
//       { "field": "Nombre", "caption": "Cliente", "width": 2880 },
//       { "field": "Ciudad", "width": 1800 }    width in twips (1440 an inch); 0 or none = fit
//     ],
//     "sort": "Ciudad, Nombre DESC",            optional Jet sort: fields, ASC/DESC, commas
//     "formula": "[Activo] = True",             optional Jet condition selecting the records
//     "orientation": "auto"                     "portrait", "landscape" or "auto" (the default)
//   }
//
// The record source it runs is a select over the source: the listed columns (captions as aliases),
// "where (formula)" and "order by sort". A select as source is read as a subquery.

#include <QString>
#include <vector>

namespace platform {

enum class ReportOrientation { Auto, Portrait, Landscape };

struct ReportColumn {
    QString field;
    QString caption;      // empty: the field's name
    double widthTwips = 0;  // 0: as wide as the values need
};

class ReportFile {
public:
    QString path;  // the file it was read from
    QString title;
    QString source;
    QString database;  // as written in the file (may be empty)
    std::vector<ReportColumn> columns;
    QString sort;
    QString formula;
    ReportOrientation orientation = ReportOrientation::Auto;

    // Reads and checks a report file. A missing or unreadable file raises dao::Error 53; a file that
    // is not a valid report raises dao::Error 5 naming the file and what is wrong with it.
    static ReportFile load(const QString& path);
    // The same from the file's text (path only names it in messages and resolves "database").
    static ReportFile parse(const QByteArray& text, const QString& path = QString());

    // The select the listing runs; `formula` replaces the file's own selection formula.
    QString recordSource(const QString& formula) const;
    QString recordSource() const { return recordSource(this->formula); }

    // The database named in the file, resolved against the file's folder; empty when none.
    QString databasePath() const;

    // The listing title: the file's title, else the source's table name (or the select's text).
    QString listingTitle() const;

    // The column widths in twips, one per listed column (empty when the file lists none).
    std::vector<double> columnWidths() const;
};

}  // namespace platform
