#pragma once

// Code-point access and ICU's character classes for the Textile rules that
// are matched by hand. Those rules reproduce ICU's matching of their patterns
// exactly (ICU's \w, \s, [[:punct:]], ".", and its \b that ignores combining
// marks), but in linear time where ICU's backtracking would not be.

#include <QString>

#include <cstdint>
#include <vector>

namespace textile {

bool isWord(char32_t c); // \w
bool isSpace(char32_t c); // \s
bool isPunct(char32_t c); // [[:punct:]]
bool isDot(char32_t c); // matched by "." (not a line terminator)
bool isMarkOrFormat(char32_t c); // ignored by \b

class Text
{
public:
    explicit Text(const QString &s) : m_d(reinterpret_cast<const char16_t *>(s.constData())), m_n(s.size()) {}

    qsizetype size() const { return m_n; }
    bool is(qsizetype i, char16_t c) const { return i >= 0 && i < m_n && m_d[i] == c; }
    char16_t unit(qsizetype i) const { return m_d[i]; }

    // The code point starting at i (a lone surrogate stands for itself).
    char32_t at(qsizetype i, int &len) const
    {
        const char16_t c = m_d[i];
        if (QChar::isHighSurrogate(c) && i + 1 < m_n && QChar::isLowSurrogate(m_d[i + 1])) {
            len = 2;
            return QChar::surrogateToUcs4(c, m_d[i + 1]);
        }
        len = 1;
        return c;
    }
    int lengthAt(qsizetype i) const
    {
        int len;
        at(i, len);
        return len;
    }
    // The code point ending at i.
    char32_t before(qsizetype i, int &len) const
    {
        const char16_t c = m_d[i - 1];
        if (QChar::isLowSurrogate(c) && i >= 2 && QChar::isHighSurrogate(m_d[i - 2])) {
            len = 2;
            return QChar::surrogateToUcs4(m_d[i - 2], c);
        }
        len = 1;
        return c;
    }

    bool spaceAt(qsizetype i) const
    {
        int l;
        return i < m_n && isSpace(at(i, l));
    }
    bool dotAt(qsizetype i) const
    {
        int l;
        return i < m_n && isDot(at(i, l));
    }

    // ICU's \b at position i.
    bool wordBoundary(qsizetype i) const;
    // The first position at or after i holding a line terminator, or the end.
    qsizetype lineEnd(qsizetype i) const;
    // The end of the run of \s starting at i.
    qsizetype spaceRunEnd(qsizetype i) const;

private:
    const char16_t *m_d;
    qsizetype m_n;
};

// Builds a rewritten copy of a text: unchanged stretches are copied from the
// source as the scan passes them.
class Rewriter
{
public:
    explicit Rewriter(const QString &source) : m_source(source) {}

    void copyTo(qsizetype position)
    {
        if (!m_started) {
            m_out.reserve(m_source.size() + m_source.size() / 8 + 64);
            m_started = true;
        }
        m_out.append(QStringView(m_source).mid(m_copied, position - m_copied));
        m_copied = position;
    }
    void skipTo(qsizetype position) { m_copied = position; }
    void append(QStringView s) { m_out.append(s); }
    void append(QLatin1StringView s) { m_out.append(s); }
    QStringView slice(qsizetype from, qsizetype to) const { return QStringView(m_source).mid(from, to - from); }
    QString finish()
    {
        if (!m_started)
            return m_source;
        copyTo(m_source.size());
        return std::move(m_out);
    }

private:
    const QString &m_source;
    QString m_out;
    qsizetype m_copied = 0;
    bool m_started = false;
};

// For each UTF-16 position (and the end): InTag when it lies inside a tag
// (after its "<", up to and with its ">", attribute values included), InLink
// when it lies inside the content of a link element. Empty when the text
// holds no "<" (nothing is inside markup).
enum MarkupBits : std::uint8_t { InTag = 1, InLink = 2 };
std::vector<std::uint8_t> markupMask(const QString &text);

inline bool inMarkup(const std::vector<std::uint8_t> &mask, qsizetype position, std::uint8_t bits = InTag)
{
    return !mask.empty() && (mask[static_cast<size_t>(position)] & bits);
}

} // namespace textile
