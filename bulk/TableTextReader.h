#pragma once

// Reads the lines of a table text file. A line ends at CR or at CR LF (a lone LF is part of the
// line, as the format has it). The file is UTF-8 when all of it is valid UTF-8; otherwise it is
// read as Windows-1252, the code page the files of the old program were written in. A UTF-8 byte
// order mark at the start is skipped.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace bulk {

class TableTextReader {
public:
    // Opens the file; a file that cannot be opened raises 53 (not found) or 75 (no access).
    explicit TableTextReader(const QString& path);
    ~TableTextReader();
    TableTextReader(const TableTextReader&) = delete;
    TableTextReader& operator=(const TableTextReader&) = delete;

    qint64 size() const { return size_; }
    qint64 position() const { return pos_; }  // bytes read so far
    bool isUtf8() const { return utf8_; }
    bool atEnd() const { return pos_ >= size_; }
    // True when what is left holds no character but line ends and spaces: only empty lines.
    bool onlyEmptyLinesLeft() const { return pos_ >= tail_; }
    // The next line without its line end; 62 (input past end of file) at the end.
    QString readLine();
    // The same into `line`, whose room is reused when no one else holds the text: an import reads
    // millions of lines.
    void readLine(QString& line);
    // The lines left to read: every CR ends one, and text after the last CR (other than its LF) is
    // one more.
    long long linesLeft() const;
    // The length in bytes of the next line, without reading it.
    qint64 nextLineBytes() const;
    // Lines read so far (the number of the last line read, counting from 1).
    long long lineNumber() const { return lines_; }

    // Windows-1252 bytes as text.
    static QString fromWindows1252(const char* data, qsizetype size);
    static bool isValidUtf8(const char* data, qsizetype size);

private:
    QFile file_;
    QByteArray owned_;  // the contents when the file cannot be mapped
    const char* data_ = nullptr;
    qint64 size_ = 0;
    qint64 pos_ = 0;
    qint64 tail_ = 0;
    long long lines_ = 0;
    bool utf8_ = true;
};

}  // namespace bulk
