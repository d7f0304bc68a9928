#pragma once

// Small conveniences on strings, byte buffers and lists, used across the
// system (trimming account fields, picking path components, MD5 of bodies).
//
// QString has no "absent" state apart from being empty: a null QString is
// treated as the empty string by every operation here.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// A span of UTF-16 code units; `location` is -1 for "not found" (for example a
// capture group that took no part in a match).
struct TextRange
{
    qsizetype location = -1;
    qsizetype length = 0;

    qsizetype end() const { return location + length; }
    bool isFound() const { return location >= 0; }
    bool operator==(const TextRange &) const = default;
};

namespace TGFoundation {

// --- strings -------------------------------------------------------------

// True when the string has no characters at all (white space is content).
bool blank(const QString &string);
// True when nothing but white space and newlines is left after trimming.
bool isEmpty(const QString &string);
inline bool empty(const QString &string)
{
    return isEmpty(string);
}

// White space here is Unicode's white-space-and-newline set: the space
// separators, U+2028/U+2029, tab, LF, VT, FF, CR and NEL (U+0085).
bool isWhitespaceOrNewline(char16_t c);
QString stringByTrimmingWhitespace(const QString &string);
inline QString trimmed(const QString &string)
{
    return stringByTrimmingWhitespace(string);
}

inline TextRange fullRange(const QString &string)
{
    return {0, string.size()};
}
// The last UTF-16 code unit as a string; empty for an empty string.
QString lastCharacter(const QString &string);

// The user's Documents folder, and a name appended to it as one component.
QString userDocumentPath();
QString pathByAppendingToUserDocumentPath(const QString &component);

// --- byte buffers ----------------------------------------------------------

// The 16-byte MD5 digest (RFC 1321) of the bytes.
QByteArray md5Digest(const QByteArray &data);

// --- lists -----------------------------------------------------------------

// The element at `index`, or nothing when the index is not below the count.
template<typename T>
std::optional<T> at(const QList<T> &list, std::size_t index)
{
    if (index >= static_cast<std::size_t>(list.size()))
        return std::nullopt;
    return list.at(static_cast<qsizetype>(index));
}
template<typename T>
std::optional<T> nth(const QList<T> &list, std::size_t index)
{
    return at(list, index);
}
template<typename T>
std::optional<T> first(const QList<T> &list)
{
    return at(list, 0);
}
template<typename T>
std::optional<T> second(const QList<T> &list)
{
    return at(list, 1);
}
template<typename T>
std::optional<T> third(const QList<T> &list)
{
    return at(list, 2);
}

template<typename T>
std::optional<T> last(const QList<T> &list)
{
    if (list.isEmpty())
        return std::nullopt;
    return list.last();
}

// Everything after the first element; nothing for a list of one element
// (and for an empty list), never an empty list.
template<typename T>
std::optional<QList<T>> rest(const QList<T> &list)
{
    if (list.size() < 2)
        return std::nullopt;
    return list.mid(1);
}

template<typename T>
bool empty(const QList<T> &list)
{
    return list.isEmpty();
}
template<typename T>
std::size_t length(const QList<T> &list)
{
    return static_cast<std::size_t>(list.size());
}

template<typename T, typename F>
void each(const QList<T> &list, F &&block)
{
    for (const T &element : list)
        std::invoke(block, element);
}

template<typename T, typename F>
void eachWithIndex(const QList<T> &list, F &&block)
{
    std::size_t index = 0;
    for (const T &element : list)
        std::invoke(block, element, index++);
}

template<typename T, typename F>
auto map(const QList<T> &list, F &&block)
{
    using R = std::decay_t<std::invoke_result_t<F &, const T &>>;
    QList<R> result;
    result.reserve(list.size());
    for (const T &element : list)
        result.append(std::invoke(block, element));
    return result;
}

} // namespace TGFoundation
