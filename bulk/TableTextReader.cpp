#include "TableTextReader.h"

#include <QFileInfo>
#include <cstdint>
#include <cstring>

#include "platform/dao/Error.h"

namespace bulk {

namespace {

constexpr int kFileNotFound = 53;
constexpr int kInputPastEnd = 62;
constexpr int kPathAccess = 75;

// 0x80..0x9F of Windows-1252; the five unassigned bytes keep their Latin-1 code.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

TableTextReader::TableTextReader(const QString& path) : file_(path) {
    const QFileInfo info(path);
    if (!info.exists())
        dao::raise(kFileNotFound, QStringLiteral("File not found: %1").arg(path));
    if (info.isDir() || !file_.open(QIODevice::ReadOnly))
        dao::raise(kPathAccess, QStringLiteral("Path/File access error: %1").arg(path));
    size_ = file_.size();
    if (size_ > 0) {
        if (const uchar* m = file_.map(0, size_)) {
            data_ = reinterpret_cast<const char*>(m);
        } else {
            owned_ = file_.readAll();
            data_ = owned_.constData();
            size_ = owned_.size();
        }
    }
    utf8_ = isValidUtf8(data_, qsizetype(size_));
    if (utf8_ && size_ >= 3 && uchar(data_[0]) == 0xEF && uchar(data_[1]) == 0xBB && uchar(data_[2]) == 0xBF)
        pos_ = 3;
    tail_ = size_;
    while (tail_ > pos_ && (data_[tail_ - 1] == '\r' || data_[tail_ - 1] == '\n' || data_[tail_ - 1] == ' '))
        --tail_;
}

TableTextReader::~TableTextReader() = default;

QString TableTextReader::readLine() {
    QString line;
    readLine(line);
    return line;
}

void TableTextReader::readLine(QString& line) {
    if (atEnd()) dao::raise(kInputPastEnd, QStringLiteral("Input past end of file"));
    const char* start = data_ + pos_;
    const char* end = data_ + size_;
    const char* cr = static_cast<const char*>(std::memchr(start, '\r', size_t(end - start)));
    const char* p = cr ? cr : end;
    const qsizetype length = p - start;
    if (p < end) ++p;                       // the CR
    if (p < end && *p == '\n') ++p;         // and its LF
    pos_ = p - data_;
    ++lines_;
    // ASCII, by far the commonest, is widened in place; Windows-1252 likewise.
    line.resize(length);
    QChar* o = line.data();
    if (utf8_) {
        for (qsizetype i = 0; i < length; ++i) {
            const uchar b = uchar(start[i]);
            if (b >= 0x80) {
                line = QString::fromUtf8(start, length);
                return;
            }
            o[i] = QChar(char16_t(b));
        }
        return;
    }
    for (qsizetype i = 0; i < length; ++i) {
        const uchar b = uchar(start[i]);
        o[i] = QChar(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b));
    }
}

long long TableTextReader::linesLeft() const {
    long long lines = 0;
    const char* p = data_ + pos_;
    const char* end = data_ + size_;
    while (p < end) {
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
        if (!cr) return lines + 1;  // a last line without its end
        ++lines;
        p = cr + 1;
        if (p < end && *p == '\n') ++p;
    }
    return lines;
}

qint64 TableTextReader::nextLineBytes() const {
    qint64 p = pos_;
    while (p < size_ && data_[p] != '\r') ++p;
    return p - pos_;
}

QString TableTextReader::fromWindows1252(const char* data, qsizetype size) {
    QString out(size, Qt::Uninitialized);
    QChar* o = out.data();
    for (qsizetype i = 0; i < size; ++i) {
        const uchar b = uchar(data[i]);
        o[i] = QChar(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b));
    }
    return out;
}

bool TableTextReader::isValidUtf8(const char* data, qsizetype size) {
    const auto* s = reinterpret_cast<const uchar*>(data);
    qsizetype i = 0;
    while (i < size) {
        // Eight ASCII bytes at a time.
        while (i + 8 <= size) {
            uint64_t w;
            std::memcpy(&w, s + i, 8);
            if (w & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= size) break;
        const uchar c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= size) return false;  // cut short by the end of the file
        for (int k = 1; k <= extra; ++k) {
            const uchar t = s[i + k];
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace bulk
