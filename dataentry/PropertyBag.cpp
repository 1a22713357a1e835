#include "PropertyBag.h"

#include <QFile>
#include <QSaveFile>

#include "platform/dao/Error.h"

namespace dataentry {

namespace {

constexpr int kPathFileAccessError = 75;

QString escaped(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (const QChar c : s) {
        if (c == u'\\') out += QLatin1String("\\\\");
        else if (c == u'\n') out += QLatin1String("\\n");
        else if (c == u'\r') out += QLatin1String("\\r");
        else out += c;
    }
    return out;
}

bool unescaped(const QString& s, QString* out) {
    out->clear();
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] != u'\\') {
            *out += s[i];
            continue;
        }
        if (++i >= s.size()) return false;
        if (s[i] == u'\\') *out += u'\\';
        else if (s[i] == u'n') *out += u'\n';
        else if (s[i] == u'r') *out += u'\r';
        else return false;
    }
    return true;
}

bool isPicture(const QVariant& v) {
    return v.typeId() == QMetaType::QByteArray;
}

}  // namespace

bool sameBagValue(const QVariant& a, const QVariant& b) {
    if (!a.isValid() || !b.isValid()) {
        // "No value" equals an empty text or an empty picture: neither is worth storing.
        const QVariant& v = a.isValid() ? a : b;
        if (!v.isValid()) return true;
        if (isPicture(v)) return v.toByteArray().isEmpty();
        if (v.typeId() == QMetaType::QString) return v.toString().isEmpty();
        return false;
    }
    if (isPicture(a) || isPicture(b)) return a.toByteArray() == b.toByteArray();
    if (a.typeId() == QMetaType::Bool || b.typeId() == QMetaType::Bool) {
        if (a.typeId() != b.typeId() && (a.typeId() == QMetaType::QString || b.typeId() == QMetaType::QString))
            return false;
        return a.toBool() == b.toBool();
    }
    if (a.typeId() == QMetaType::QString || b.typeId() == QMetaType::QString) {
        return a.typeId() == b.typeId() && a.toString() == b.toString();
    }
    return a == b;
}

int PropertyBag::indexOf(const QString& name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].first.compare(name, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

QVariant PropertyBag::ReadProperty(const QString& name, const QVariant& defaultValue) const {
    const int i = indexOf(name);
    return i < 0 ? defaultValue : items_[size_t(i)].second;
}

void PropertyBag::WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue) {
    const int i = indexOf(name);
    if (sameBagValue(value, defaultValue)) {
        if (i >= 0) items_.erase(items_.begin() + i);
        return;
    }
    QVariant v = value;
    switch (v.typeId()) {
        case QMetaType::QString:
        case QMetaType::Bool:
        case QMetaType::QByteArray:
        case QMetaType::LongLong:
            break;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::Short:
            v = QVariant(v.toLongLong());
            break;
        default:
            v = QVariant(v.toString());
    }
    if (i >= 0) items_[size_t(i)].second = v;
    else items_.emplace_back(name, v);
}

bool PropertyBag::contains(const QString& name) const {
    return indexOf(name) >= 0;
}

QStringList PropertyBag::names() const {
    QStringList out;
    for (const auto& item : items_) out << item.first;
    return out;
}

QString PropertyBag::toText() const {
    QString out = QStringLiteral("# Velloform property bag\n");
    for (const auto& [name, v] : items_) {
        out += name + u'=';
        switch (v.typeId()) {
            case QMetaType::Bool:
                out += v.toBool() ? QLatin1String("b:True") : QLatin1String("b:False");
                break;
            case QMetaType::LongLong:
                out += QLatin1String("i:") + QString::number(v.toLongLong());
                break;
            case QMetaType::QByteArray:
                out += QLatin1String("p:") + QString::fromLatin1(v.toByteArray().toBase64());
                break;
            default:
                out += QLatin1String("s:") + escaped(v.toString());
        }
        out += u'\n';
    }
    return out;
}

PropertyBag PropertyBag::fromText(const QString& text) {
    PropertyBag bag;
    const QStringList lines = text.split(u'\n');
    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines[n];
        if (line.endsWith(u'\r')) line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(u'#')) continue;
        const qsizetype eq = line.indexOf(u'=');
        const QString name = eq > 0 ? line.left(eq) : QString();
        const QString rest = eq > 0 ? line.mid(eq + 1) : QString();
        bool ok = !name.isEmpty() && rest.size() >= 2 && rest[1] == u':';
        QVariant v;
        if (ok) {
            const QString body = rest.mid(2);
            switch (rest[0].unicode()) {
                case 's': {
                    QString s;
                    ok = unescaped(body, &s);
                    v = s;
                    break;
                }
                case 'b':
                    ok = body == QLatin1String("True") || body == QLatin1String("False");
                    v = body == QLatin1String("True");
                    break;
                case 'i':
                    v = body.toLongLong(&ok);
                    break;
                case 'p': {
                    const auto decoded = QByteArray::fromBase64Encoding(body.toLatin1(),
                                                                        QByteArray::AbortOnBase64DecodingErrors);
                    ok = bool(decoded);
                    v = *decoded;
                    break;
                }
                default:
                    ok = false;
            }
        }
        if (!ok)
            throw dao::Error(dao::err::TypeMismatch,
                             QStringLiteral("The property bag cannot be read at line %1: %2").arg(n + 1).arg(line.left(80)));
        const int i = bag.indexOf(name);
        if (i >= 0) bag.items_[size_t(i)].second = v;
        else bag.items_.emplace_back(name, v);
    }
    return bag;
}

PropertyBag PropertyBag::load(const QString& path) {
    QFile f(path);
    if (!f.exists()) return PropertyBag();
    if (!f.open(QIODevice::ReadOnly))
        throw dao::Error(kPathFileAccessError,
                         QStringLiteral("Path/File access error: %1 (%2)").arg(path, f.errorString()));
    // A bag is a few lines; anything far larger is not one of ours.
    if (f.size() > 64 * 1024 * 1024)
        throw dao::Error(dao::err::TypeMismatch, QStringLiteral("The property bag %1 is too large").arg(path));
    return fromText(QString::fromUtf8(f.readAll()));
}

void PropertyBag::save(const QString& path) const {
    QSaveFile f(path);
    const QByteArray bytes = toText().toUtf8();
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        throw dao::Error(kPathFileAccessError,
                         QStringLiteral("Path/File access error: %1 (%2)").arg(path, f.errorString()));
}

}  // namespace dataentry
