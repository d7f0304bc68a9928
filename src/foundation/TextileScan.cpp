#include "foundation/TextileScan.h"

#include <unicode/uniset.h>

#include <algorithm>
#include <array>
#include <cstdint>

namespace textile {
namespace {

// The sets behind ICU's regular-expression classes, frozen for fast and
// thread-safe look-ups, with a table for the ASCII range.
struct Classes
{
    enum Bit : std::uint8_t { Word = 1, Space = 2, Punct = 4, Dot = 8, MarkOrFormat = 16 };

    icu::UnicodeSet word, space, punct, dot, markOrFormat;
    std::array<std::uint8_t, 128> ascii{};

    static icu::UnicodeSet make(const char16_t *pattern)
    {
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeSet set(icu::UnicodeString(pattern), status);
        set.freeze();
        return set;
    }

    Classes()
        : word(make(u"[\\p{Alphabetic}\\p{M}\\p{Nd}\\p{Pc}\\u200c\\u200d]")), space(make(u"[\\p{WhiteSpace}]")),
          punct(make(u"[\\p{P}]")), dot(make(u"[^\\n\\x0b\\f\\r\\x85\\u2028\\u2029]")),
          markOrFormat(make(u"[[:Grapheme_Extend:][:Cf:]]"))
    {
        for (char32_t c = 0; c < 128; ++c)
            ascii[c] = (word.contains(c) ? Word : 0) | (space.contains(c) ? Space : 0) | (punct.contains(c) ? Punct : 0)
                       | (dot.contains(c) ? Dot : 0) | (markOrFormat.contains(c) ? MarkOrFormat : 0);
    }
};

const Classes &classes()
{
    static const Classes instance;
    return instance;
}

} // namespace

bool isWord(char32_t c)
{
    const Classes &k = classes();
    return c < 128 ? (k.ascii[c] & Classes::Word) : k.word.contains(c);
}

bool isSpace(char32_t c)
{
    const Classes &k = classes();
    return c < 128 ? (k.ascii[c] & Classes::Space) : k.space.contains(c);
}

bool isPunct(char32_t c)
{
    const Classes &k = classes();
    return c < 128 ? (k.ascii[c] & Classes::Punct) : k.punct.contains(c);
}

bool isDot(char32_t c)
{
    const Classes &k = classes();
    return c < 128 ? (k.ascii[c] & Classes::Dot) : k.dot.contains(c);
}

bool isMarkOrFormat(char32_t c)
{
    const Classes &k = classes();
    return c < 128 ? (k.ascii[c] & Classes::MarkOrFormat) : k.markOrFormat.contains(c);
}

bool Text::wordBoundary(qsizetype i) const
{
    bool here = false;
    if (i < m_n) {
        int len;
        const char32_t c = at(i, len);
        if (isMarkOrFormat(c))
            return false;
        here = isWord(c);
    }
    bool before = false;
    for (qsizetype j = i; j > 0;) {
        int len;
        const char32_t p = this->before(j, len);
        j -= len;
        if (!isMarkOrFormat(p)) {
            before = isWord(p);
            break;
        }
    }
    return here != before;
}

qsizetype Text::lineEnd(qsizetype i) const
{
    while (i < m_n) {
        int len;
        if (!isDot(at(i, len)))
            return i;
        i += len;
    }
    return m_n;
}

qsizetype Text::spaceRunEnd(qsizetype i) const
{
    while (i < m_n) {
        int len;
        if (!isSpace(at(i, len)))
            return i;
        i += len;
    }
    return m_n;
}

namespace {

bool isAsciiLetter(char16_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isNameChar(char16_t c)
{
    return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '-';
}

// Whether the "<" at `lt` starts a tag: "<!", "<?", or a name that ends
// where a tag can go on. "<john@example.com>" and "<http://...>" are text that
// people write around addresses, and the address rules must still see them.
bool opensTag(const QString &text, qsizetype lt)
{
    const qsizetype n = text.size();
    qsizetype k = lt + 1;
    if (k < n && (text.at(k) == QLatin1Char('!') || text.at(k) == QLatin1Char('?')))
        return true;
    if (k < n && text.at(k) == QLatin1Char('/'))
        ++k;
    if (k >= n || !isAsciiLetter(text.at(k).unicode()))
        return false;
    while (k < n && isNameChar(text.at(k).unicode()))
        ++k;
    if (k >= n)
        return true;
    const char16_t c = text.at(k).unicode();
    return c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

} // namespace

std::vector<std::uint8_t> markupMask(const QString &text)
{
    std::vector<std::uint8_t> mask;
    qsizetype lt = text.indexOf(QLatin1Char('<'));
    if (lt < 0)
        return mask;
    const qsizetype n = text.size();
    mask.assign(static_cast<size_t>(n) + 1, 0);
    const QChar *d = text.constData();

    std::uint8_t outside = 0; // InLink while inside a link's text
    qsizetype i = 0;
    while (lt >= 0) {
        // Text up to the next "<" only carries the link state.
        if (outside)
            std::fill(mask.begin() + i, mask.begin() + lt + 1, outside);
        i = lt + 1;
        if (!opensTag(text, lt)) {
            lt = text.indexOf(QLatin1Char('<'), i);
            continue;
        }
        // Inside the tag, up to and with its ">": a ">" inside a quoted
        // attribute value does not end it; a line feed does.
        const qsizetype tagStart = lt;
        char16_t quote = 0;
        char16_t lastNonSpace = '<';
        bool closed = false;
        for (; i < n; ++i) {
            mask[static_cast<size_t>(i)] = InTag | outside;
            const char16_t c = d[i].unicode();
            if (quote) {
                if (c == quote)
                    quote = 0;
                else if (c == '\n')
                    break;
                continue;
            }
            if (c == '>') {
                closed = true;
                break;
            }
            if (c == '\n')
                break;
            if ((c == '"' || c == '\'') && lastNonSpace == '=')
                quote = c;
            if (!QChar::isSpace(c))
                lastNonSpace = c;
        }
        if (closed) {
            qsizetype k = tagStart + 1;
            const bool closing = d[k] == QLatin1Char('/');
            if (closing)
                ++k;
            const bool isLinkTag = (d[k] == QLatin1Char('a') || d[k] == QLatin1Char('A'))
                                   && (k + 1 >= n || !d[k + 1].isLetterOrNumber());
            if (isLinkTag) {
                if (closing)
                    outside = 0;
                else if (lastNonSpace != '/')
                    outside = InLink;
            }
            ++i;
        } else if (i >= n) {
            mask[static_cast<size_t>(n)] = InTag | outside;
            return mask;
        } else {
            ++i; // the line feed that cut the tag short still counts as inside it
        }
        lt = i < n ? text.indexOf(QLatin1Char('<'), i) : -1;
    }
    if (outside)
        std::fill(mask.begin() + i, mask.end(), outside);
    return mask;
}

} // namespace textile
