#include "foundation/TGFoundation.h"

#include <QCryptographicHash>
#include <QStandardPaths>

namespace TGFoundation {

bool blank(const QString &string)
{
    return string.isEmpty();
}

bool isEmpty(const QString &string)
{
    for (QChar c : string)
        if (!isWhitespaceOrNewline(c.unicode()))
            return false;
    return true;
}

bool isWhitespaceOrNewline(char16_t c)
{
    switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x85:
    case 0x2028:
    case 0x2029: return true;
    default: return QChar::category(char32_t(c)) == QChar::Separator_Space;
    }
}

QString stringByTrimmingWhitespace(const QString &string)
{
    qsizetype begin = 0;
    qsizetype end = string.size();
    while (begin < end && isWhitespaceOrNewline(string.at(begin).unicode()))
        ++begin;
    while (end > begin && isWhitespaceOrNewline(string.at(end - 1).unicode()))
        --end;
    if (begin == 0 && end == string.size())
        return string;
    return string.mid(begin, end - begin);
}

QString lastCharacter(const QString &string)
{
    if (string.isEmpty())
        return {};
    return string.right(1);
}

QString userDocumentPath()
{
    return QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation).value(0);
}

QString pathByAppendingToUserDocumentPath(const QString &component)
{
    QString base = userDocumentPath();
    while (base.size() > 1 && base.endsWith(QLatin1Char('/')))
        base.chop(1);
    QString tail = component;
    while (tail.startsWith(QLatin1Char('/')))
        tail.remove(0, 1);
    if (tail.isEmpty())
        return base;
    if (base.isEmpty() || base.endsWith(QLatin1Char('/')))
        return base + tail;
    return base + QLatin1Char('/') + tail;
}

QByteArray md5Digest(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
}

} // namespace TGFoundation
