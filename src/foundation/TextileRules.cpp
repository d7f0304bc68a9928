#include "foundation/TextileRules.h"

#include "foundation/TextileScan.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// Every scanner below relies on the same observation about a lazy "(.+?)X"
// that cannot leave its line: when the attempt at one opener runs to the end
// of the line without finding a closer, every later opener on that line fails
// too, because its candidate closers are a subset of the ones just checked.
// So a failed attempt moves the scan to the end of the line instead of to the
// next character, and every character is looked at a bounded number of times.

namespace textile {

namespace {

// The smallest position at or after `from` where `closes` holds, scanning
// over "."-characters only; -1 (and `stop` set to the line's end) if none.
template<typename Closes>
qsizetype lazyClose(const Text &t, qsizetype from, qsizetype &stop, Closes closes)
{
    qsizetype k = from;
    const qsizetype n = t.size();
    while (k < n) {
        if (closes(k))
            return k;
        int len;
        if (!isDot(t.at(k, len)))
            break;
        k += len;
    }
    stop = k;
    return -1;
}

// Markup must never land inside an attribute value: the note content is
// XML, where a "<" or an unbalanced quote there breaks the whole document.
// A line feed is kept out too, or the line rules would later cut the tag in
// two and add their own markup inside it.
bool fitsAttribute(QStringView value)
{
    return !value.contains(QLatin1Char('<')) && !value.contains(QLatin1Char('"')) && !value.contains(QLatin1Char('\n'));
}

} // namespace

QString footnoteReferences(const QString &src)
{
    if (!src.contains(QLatin1Char('[')))
        return src;
    const Text t(src);
    const std::vector<std::uint8_t> mask = markupMask(src);
    Rewriter out(src);
    const qsizetype n = t.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype open = src.indexOf(QLatin1Char('['), i);
        if (open < 0)
            break;
        if (!t.wordBoundary(open)) {
            i = open + 1;
            continue;
        }
        if (!t.dotAt(open + 1)) {
            i = open + 1;
            continue;
        }
        qsizetype stop = n;
        const qsizetype close = lazyClose(t, open + 1 + t.lengthAt(open + 1), stop,
                                          [&](qsizetype k) { return t.unit(k) == ']'; });
        if (close < 0) {
            i = stop;
            continue;
        }
        const QStringView label = out.slice(open + 1, close);
        i = close + 1;
        if (inMarkup(mask, open, InTag | InLink) || inMarkup(mask, close) || !fitsAttribute(label))
            continue;
        out.copyTo(open);
        out.append(QLatin1StringView("<sup><a href=\"#fn"));
        out.append(label);
        out.append(QLatin1StringView("\">"));
        out.append(label);
        out.append(QLatin1StringView("</a></sup>"));
        out.skipTo(close + 1);
    }
    return out.finish();
}

QString emphasis(const QString &src)
{
    if (!src.contains(QLatin1Char('_')))
        return src;
    const Text t(src);
    const std::vector<std::uint8_t> mask = markupMask(src);
    Rewriter out(src);
    const qsizetype n = t.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype open = src.indexOf(QLatin1Char('_'), i);
        if (open < 0)
            break;
        if (t.is(open - 1, '|') || !t.wordBoundary(open) || !t.dotAt(open + 1)) {
            i = open + 1;
            continue;
        }
        qsizetype stop = n;
        const qsizetype close = lazyClose(t, open + 1 + t.lengthAt(open + 1), stop,
                                          [&](qsizetype k) { return t.unit(k) == '_' && t.wordBoundary(k + 1); });
        if (close < 0) {
            i = stop;
            continue;
        }
        i = close + 1;
        if (inMarkup(mask, open) || inMarkup(mask, close))
            continue;
        out.copyTo(open);
        out.append(QLatin1StringView("<em>"));
        out.append(out.slice(open + 1, close));
        out.append(QLatin1StringView("</em>"));
        out.skipTo(close + 1);
    }
    return out.finish();
}

namespace {

bool isMailLocal(char32_t c)
{
    switch (c) {
    case '.':
    case '!':
    case '#':
    case '$':
    case '%':
    case '-':
    case '+': return true;
    default: return isWord(c);
    }
}

bool isDomainChar(char16_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

} // namespace

QString mailLinks(const QString &src)
{
    if (!src.contains(QLatin1Char('@')))
        return src;
    const Text t(src);
    Rewriter out(src);
    const std::vector<std::uint8_t> mask = markupMask(src);
    const qsizetype n = t.size();
    qsizetype i = 0;
    while (i < n) {
        int len;
        if (!isMailLocal(t.at(i, len))) {
            i += len;
            continue;
        }
        // The local part cannot hold "@", so every start inside this run
        // needs the "@" right after the run.
        const qsizetype start = i;
        qsizetype at = i;
        while (at < n && isMailLocal(t.at(at, len)))
            at += len;
        if (!t.is(at, '@')) {
            i = at;
            continue;
        }
        qsizetype k = at + 1;
        while (k < n && isDomainChar(t.unit(k)))
            ++k;
        int parts = 0;
        if (k > at + 1) {
            while (k + 1 < n && t.unit(k) == '.' && isDomainChar(t.unit(k + 1))) {
                k += 2;
                while (k < n && isDomainChar(t.unit(k)))
                    ++k;
                ++parts;
            }
        }
        if (parts == 0) {
            i = at + 1;
            continue;
        }
        if (!inMarkup(mask, start, InTag | InLink)) {
            const QStringView address = out.slice(start, k);
            out.copyTo(start);
            out.append(QLatin1StringView("<a href=\"mailto:"));
            out.append(address);
            out.append(QLatin1StringView("\">"));
            out.append(address);
            out.append(QLatin1StringView("</a>"));
            out.skipTo(k);
        }
        i = k;
    }
    return out.finish();
}

namespace {

// The web-address pattern of the auto-linker:
//   (<\w+.*?>|[^=!:'"\/]|^)((?:http[s]?:\/\/)|(?:www\.))(([\w]+[=?&%+\/.-]{0,2})*\w+[\/]?)([[:punct:]]|\s|<|$)
// Its address body nests two quantifiers over \w and backtracks
// exponentially when no ending fits. The body's language is one word
// character followed by groups of at most two separators and a word
// character, and the end that backtracking settles on is the farthest word
// character inside that span after which the ending (an optional slash, then
// punctuation, white space, "<" or the end of the text) fits; both are found
// here from tables built in two passes over the text.
class UrlScanner
{
public:
    struct Found
    {
        qsizetype start = 0; // group 1
        qsizetype address = 0; // group 2
        int schemeLength = 0;
        qsizetype bodyEnd = 0; // end of group 3, slash included
        int tailLength = 0; // group 5
        qsizetype end() const { return bodyEnd + tailLength; }
    };

    explicit UrlScanner(const QString &s) : m_s(s), m_t(s), m_n(s.size())
    {
        const size_t size = static_cast<size_t>(m_n) + 1;
        m_len.assign(size, 0);
        m_word.assign(size, 0);
        m_validEnd.assign(size, 0);
        for (qsizetype i = 0; i < m_n;) {
            int len;
            const char32_t c = m_t.at(i, len);
            m_len[i] = static_cast<std::uint8_t>(len);
            if (isWord(c)) {
                m_word[i] = 1;
                m_validEnd[i + len] = 1;
            }
            i += len;
        }
        // The farthest a body starting at a word character can reach.
        m_spanEnd.assign(size, -1);
        const auto at32 = [](qsizetype v) { return static_cast<std::int32_t>(v); };
        for (qsizetype i = m_n - 1; i >= 0; --i) {
            if (!m_len[i] || !m_word[i])
                continue;
            const qsizetype k = i + m_len[i];
            if (k < m_n && m_word[k]) {
                m_spanEnd[i] = m_spanEnd[k];
            } else if (k < m_n && isSeparator(m_t.unit(k))) {
                int run = 0;
                while (run < 3 && k + run < m_n && isSeparator(m_t.unit(k + run)))
                    ++run;
                m_spanEnd[i] = (run <= 2 && k + run < m_n && m_word[k + run]) ? m_spanEnd[k + run] : at32(k);
            } else {
                m_spanEnd[i] = at32(k);
            }
        }
        // The farthest end at or before each position after which the ending fits.
        m_bestEnd.assign(size, -1);
        for (qsizetype x = 0; x <= m_n; ++x) {
            int slash, tail;
            m_bestEnd[x] = (m_validEnd[x] && ending(x, slash, tail)) ? at32(x) : (x > 0 ? m_bestEnd[x - 1] : -1);
        }
        // The nearest ">" directly followed by a complete address, and the
        // nearest line terminator, for the "<tag ...>" lead.
        m_nextTarget.assign(size + 1, -1);
        m_nextBreak.assign(size + 1, at32(m_n));
        for (qsizetype x = m_n - 1; x >= 0; --x) {
            Found f;
            m_nextTarget[x] = (m_t.unit(x) == '>' && address(x + 1, f)) ? std::int32_t(x) : m_nextTarget[x + 1];
            m_nextBreak[x] = (m_len[x] && !m_t.dotAt(x)) ? std::int32_t(x) : m_nextBreak[x + 1];
        }
    }

    // The leftmost match starting at or after `from` (a code-point start).
    bool find(qsizetype from, Found &f) const
    {
        for (qsizetype p = from; p < m_n; p += m_len[p]) {
            if (m_t.unit(p) == '<' && p + 1 < m_n && m_word[p + 1]) {
                const qsizetype afterWord = p + 1 + m_len[p + 1];
                const qsizetype q = m_nextTarget[afterWord];
                if (q >= 0 && m_nextBreak[afterWord] >= q && address(q + 1, f)) {
                    f.start = p;
                    return true;
                }
            }
            int len;
            const char32_t c = m_t.at(p, len);
            const bool excluded = c == '=' || c == '!' || c == ':' || c == '\'' || c == '"' || c == '/';
            if (!excluded && address(p + len, f)) {
                f.start = p;
                return true;
            }
            if (p == 0 && address(0, f)) {
                f.start = 0;
                return true;
            }
        }
        return false;
    }

private:
    static bool isSeparator(char16_t c)
    {
        switch (c) {
        case '=':
        case '?':
        case '&':
        case '%':
        case '+':
        case '/':
        case '.':
        case '-': return true;
        default: return false;
        }
    }

    // Group 5 at x: its length, or -1.
    int tailAt(qsizetype x) const
    {
        if (x == m_n)
            return 0;
        int len;
        const char32_t c = m_t.at(x, len);
        return (isPunct(c) || isSpace(c) || c == '<') ? len : -1;
    }

    bool ending(qsizetype e, int &slash, int &tail) const
    {
        if (m_t.is(e, '/') && (tail = tailAt(e + 1)) >= 0) {
            slash = 1;
            return true;
        }
        slash = 0;
        return (tail = tailAt(e)) >= 0;
    }

    // Groups 2 to 5 starting at u.
    bool address(qsizetype u, Found &f) const
    {
        if (u >= m_n || (m_t.unit(u) != 'h' && m_t.unit(u) != 'w'))
            return false;
        const QStringView rest = QStringView(m_s).mid(u);
        int scheme;
        if (rest.startsWith(QLatin1StringView("https://")))
            scheme = 8;
        else if (rest.startsWith(QLatin1StringView("http://")))
            scheme = 7;
        else if (rest.startsWith(QLatin1StringView("www.")))
            scheme = 4;
        else
            return false;
        const qsizetype body = u + scheme;
        if (body >= m_n || !m_word[body])
            return false;
        const qsizetype e = m_bestEnd[m_spanEnd[body]];
        if (e <= body)
            return false;
        int slash, tail;
        ending(e, slash, tail);
        f.address = u;
        f.schemeLength = scheme;
        f.bodyEnd = e + slash;
        f.tailLength = tail;
        return true;
    }

    const QString &m_s;
    Text m_t;
    qsizetype m_n;
    std::vector<std::uint8_t> m_len, m_word, m_validEnd;
    // Positions fit in 32 bits: ICU, which these rules mirror, has the same limit.
    std::vector<std::int32_t> m_spanEnd, m_bestEnd, m_nextTarget, m_nextBreak;
};

bool leadOpensLink(const Text &t, qsizetype from, qsizetype to)
{
    // "<a\s" anywhere inside the lead [from, to).
    for (qsizetype k = from; k + 2 < to; ++k)
        if (t.unit(k) == '<' && t.unit(k + 1) == 'a' && t.spaceAt(k + 2))
            return true;
    return false;
}

} // namespace

QString autoLinkURLs(const QString &src)
{
    if (!src.contains(QLatin1StringView("http://")) && !src.contains(QLatin1StringView("https://"))
        && !src.contains(QLatin1StringView("www.")))
        return src;
    const UrlScanner scanner(src);
    const Text t(src);
    const std::vector<std::uint8_t> mask = markupMask(src);
    Rewriter out(src);
    UrlScanner::Found f;
    qsizetype from = 0;
    while (from < t.size() && scanner.find(from, f)) {
        // An address already in a link's start tag, or anywhere inside a tag
        // or a link's text, stays as it is: linking it there would put a
        // link inside an attribute value or inside another link.
        const bool keep = leadOpensLink(t, f.start, f.address) || inMarkup(mask, f.address, InTag | InLink);
        if (!keep) {
            const qsizetype body = f.address + f.schemeLength;
            const QStringView scheme = out.slice(f.address, body);
            const QStringView rest = out.slice(body, f.bodyEnd);
            out.copyTo(f.address);
            out.append(QLatin1StringView("<a href=\""));
            out.append(f.schemeLength == 4 ? QStringView(u"http://www.") : scheme);
            out.append(rest);
            out.append(QLatin1StringView("\">"));
            out.append(scheme);
            out.append(rest);
            out.append(QLatin1StringView("</a>"));
            out.skipTo(f.bodyEnd);
        }
        // The character after the address may lead the next one.
        if (f.tailLength == 0)
            break;
        from = f.bodyEnd;
    }
    return out.finish();
}

QString textileLinks(const QString &src)
{
    if (!src.contains(QLatin1StringView("\":")))
        return src;
    const Text t(src);
    const qsizetype n = t.size();
    const std::vector<std::uint8_t> mask = markupMask(src);

    // Shortest run of [^\w\/;] from each position that ends where
    // (?=<|\||\s|$) holds; -1 when the run meets another character first.
    std::vector<qsizetype> trail(static_cast<size_t>(n) + 1, -1);
    trail[n] = 0;
    for (qsizetype x = n - 1; x >= 0; --x) {
        if (x > 0 && QChar::isLowSurrogate(t.unit(x)) && QChar::isHighSurrogate(t.unit(x - 1)))
            continue;
        int len;
        const char32_t c = t.at(x, len);
        if (c == '<' || c == '|' || isSpace(c))
            trail[x] = 0;
        else if (!isWord(c) && c != '/' && c != ';' && trail[x + len] >= 0)
            trail[x] = len + trail[x + len];
    }

    Rewriter out(src);
    qsizetype nextParen = -1; // cached: the first ")" at or after the last look-up
    qsizetype i = 0;
    while (i < n) {
        const qsizetype quote = src.indexOf(QLatin1Char('"'), i);
        if (quote < 0)
            break;
        i = quote + 1;
        qsizetype textEnd = quote + 1;
        while (textEnd < n && t.unit(textEnd) != '"' && t.unit(textEnd) != '(' && t.unit(textEnd) != '\n')
            ++textEnd;
        if (textEnd == quote + 1)
            continue;
        // Only the longest link text can be followed by what must come next.
        const qsizetype x = t.is(textEnd, '\n') ? textEnd + 1 : textEnd;
        qsizetype target = -1, titleStart = -1, titleEnd = -1;
        if (t.is(x, '(') && x + 1 < n && t.unit(x + 1) != ')') {
            if (nextParen < x + 1)
                nextParen = src.indexOf(QLatin1Char(')'), x + 1);
            if (nextParen < 0)
                nextParen = n + 1;
            const qsizetype close = nextParen;
            if (close < n && t.is(close + 1, '"') && t.is(close + 2, ':')) {
                target = close + 3;
                titleStart = x + 1;
                titleEnd = close;
            }
        }
        if (target < 0 && t.is(x, '"') && t.is(x + 1, ':'))
            target = x + 2;
        if (target < 0 || target >= n || t.spaceAt(target))
            continue;
        qsizetype pos = target + t.lengthAt(target);
        qsizetype trailStart = -1;
        bool slash = false;
        while (true) {
            if (t.is(pos, '/') && trail[pos + 1] >= 0) {
                slash = true;
                trailStart = pos + 1;
                break;
            }
            if (trail[pos] >= 0) {
                trailStart = pos;
                break;
            }
            if (pos >= n || t.spaceAt(pos))
                break;
            pos += t.lengthAt(pos);
        }
        if (trailStart < 0)
            continue;
        const qsizetype end = trailStart + trail[trailStart];
        // A quote inside a tag (an attribute's delimiter) or inside a link's
        // text opens no link, and neither target nor title may carry markup
        // into the attributes.
        if (inMarkup(mask, quote, InTag | InLink) || !fitsAttribute(out.slice(target, pos))
            || (titleStart >= 0 && !fitsAttribute(out.slice(titleStart, titleEnd)))) {
            i = end;
            continue;
        }
        out.copyTo(quote);
        out.append(QLatin1StringView("<a href=\""));
        out.append(out.slice(target, pos));
        if (slash)
            out.append(QLatin1StringView("/"));
        out.append(QLatin1StringView("\" title=\""));
        if (titleStart >= 0)
            out.append(out.slice(titleStart, titleEnd));
        out.append(QLatin1StringView("\">"));
        out.append(out.slice(quote + 1, textEnd));
        out.append(QLatin1StringView("</a>"));
        out.append(out.slice(trailStart, end));
        out.skipTo(end);
        i = end;
    }
    return out.finish();
}

QString imagesWithAlt(const QString &src)
{
    if (!src.contains(QLatin1Char('!')))
        return src;
    const Text t(src);
    const std::vector<std::uint8_t> mask = markupMask(src);
    Rewriter out(src);
    const qsizetype n = t.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype bang = src.indexOf(QLatin1Char('!'), i);
        if (bang < 0)
            break;
        if (!t.wordBoundary(bang + 1)) {
            i = bang + 1;
            continue;
        }
        // Only the first "(" that opens a word can take the alternative
        // text: a later one has fewer closers to choose from.
        qsizetype stop = n;
        const qsizetype paren = lazyClose(t, bang + 1 + t.lengthAt(bang + 1), stop,
                                          [&](qsizetype k) { return t.unit(k) == '(' && t.wordBoundary(k + 1); });
        if (paren < 0) {
            i = stop;
            continue;
        }
        const qsizetype close = lazyClose(t, paren + 1 + t.lengthAt(paren + 1), stop, [&](qsizetype k) {
            return t.unit(k) == ')' && t.is(k + 1, '!') && t.wordBoundary(k);
        });
        if (close < 0) {
            i = stop;
            continue;
        }
        i = close + 2;
        if (inMarkup(mask, bang) || inMarkup(mask, close) || !fitsAttribute(out.slice(bang + 1, paren))
            || !fitsAttribute(out.slice(paren + 1, close)))
            continue;
        out.copyTo(bang);
        out.append(QLatin1StringView("<img src=\""));
        out.append(out.slice(bang + 1, paren));
        out.append(QLatin1StringView("\" alt=\""));
        out.append(out.slice(paren + 1, close));
        out.append(QLatin1StringView("\"/>"));
        out.skipTo(close + 2);
    }
    return out.finish();
}

QString images(const QString &src)
{
    if (!src.contains(QLatin1Char('!')))
        return src;
    const Text t(src);
    const std::vector<std::uint8_t> mask = markupMask(src);
    Rewriter out(src);
    const qsizetype n = t.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype bang = src.indexOf(QLatin1Char('!'), i);
        if (bang < 0)
            break;
        if (!t.wordBoundary(bang + 1)) {
            i = bang + 1;
            continue;
        }
        qsizetype stop = n;
        const qsizetype close = lazyClose(t, bang + 1 + t.lengthAt(bang + 1), stop,
                                          [&](qsizetype k) { return t.unit(k) == '!' && t.wordBoundary(k); });
        if (close < 0) {
            i = stop;
            continue;
        }
        i = close + 1;
        if (inMarkup(mask, bang) || inMarkup(mask, close) || !fitsAttribute(out.slice(bang + 1, close)))
            continue;
        out.copyTo(bang);
        out.append(QLatin1StringView("<img src=\""));
        out.append(out.slice(bang + 1, close));
        out.append(QLatin1StringView("\"/>"));
        out.skipTo(close + 1);
    }
    return out.finish();
}

QString styledSpans(const QString &src)
{
    if (!src.contains(QLatin1StringView("%{")))
        return src;
    const Text t(src);
    const std::vector<std::uint8_t> mask = markupMask(src);
    Rewriter out(src);
    const qsizetype n = t.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype open = src.indexOf(QLatin1StringView("%{"), i);
        if (open < 0)
            break;
        // Both groups are greedy: the style runs to the last "}" that still
        // has a "%" after it, the content to the line's last "%".
        const qsizetype lineEnd = t.lineEnd(open + 2);
        qsizetype percent = -1, brace = -1;
        for (qsizetype k = lineEnd - 1; k >= open + 2; --k) {
            if (percent < 0) {
                if (t.unit(k) == '%' && k >= open + 3)
                    percent = k;
            } else if (t.unit(k) == '}') {
                brace = k;
                break;
            }
        }
        if (brace < 0) {
            i = lineEnd;
            continue;
        }
        i = percent + 1;
        if (inMarkup(mask, open) || inMarkup(mask, percent) || !fitsAttribute(out.slice(open + 2, brace)))
            continue;
        out.copyTo(open);
        out.append(QLatin1StringView("<span style=\""));
        out.append(out.slice(open + 2, brace));
        out.append(QLatin1StringView(";\">"));
        out.append(out.slice(brace + 1, percent));
        out.append(QLatin1StringView("</span>"));
        out.skipTo(percent + 1);
    }
    return out.finish();
}

bool holdsLinkElement(const QString &line)
{
    const Text t(line);
    const qsizetype n = t.size();
    // Each search below only moves forward, so cache the last answers.
    qsizetype quoteGt = -1, closeTag = -1, lineEnd = -1;
    qsizetype i = 0;
    while (true) {
        const qsizetype open = line.indexOf(QLatin1StringView("<a"), i);
        if (open < 0)
            return false;
        i = open + 2;
        const qsizetype h = t.spaceRunEnd(open + 2);
        if (!QStringView(line).mid(h).startsWith(QLatin1StringView("href=\"")))
            continue;
        const qsizetype from = h + 6;
        if (lineEnd < from)
            lineEnd = t.lineEnd(from);
        if (quoteGt < from && quoteGt != n + 1) {
            quoteGt = line.indexOf(QLatin1StringView("\">"), from);
            if (quoteGt < 0)
                quoteGt = n + 1;
        }
        if (quoteGt + 2 > lineEnd)
            continue;
        if (closeTag < quoteGt + 2 && closeTag != n + 1) {
            closeTag = line.indexOf(QLatin1StringView("</a>"), quoteGt + 2);
            if (closeTag < 0)
                closeTag = n + 1;
        }
        if (closeTag + 4 <= lineEnd)
            return true;
    }
}

QString insertions(const QString &line, bool *matched)
{
    const Text t(line);
    const std::vector<std::uint8_t> mask = markupMask(line);
    Rewriter out(line);
    const qsizetype n = t.size();
    bool any = false;
    qsizetype i = 0;
    while (i < n) {
        int len;
        if (!isSpace(t.at(i, len)) || !t.is(i + len, '+')) {
            i += len;
            continue;
        }
        const qsizetype start = i;
        const qsizetype content = i + len + 1;
        if (!t.dotAt(content)) {
            i = content;
            continue;
        }
        qsizetype stop = n;
        const qsizetype close = lazyClose(t, content + t.lengthAt(content), stop,
                                          [&](qsizetype k) { return t.unit(k) == '+' && t.spaceAt(k + 1); });
        if (close < 0) {
            i = stop;
            continue;
        }
        const qsizetype end = close + 1 + t.lengthAt(close + 1);
        i = end;
        if (inMarkup(mask, start))
            continue;
        out.copyTo(start);
        out.append(QLatin1StringView("<ins>"));
        out.append(out.slice(content, close));
        out.append(QLatin1StringView("</ins>"));
        out.skipTo(end);
        any = true;
    }
    if (matched)
        *matched = any;
    return out.finish();
}

QString replaceOutsideTags(const QString &line, const RegExConvenience::Regex &rule, QLatin1StringView marker,
                           QStringView replacementTemplate, bool *matched)
{
    const std::vector<std::uint8_t> mask = markupMask(line);
    Rewriter out(line);
    bool any = false;
    qsizetype from = 0;
    while (true) {
        // Start the engine only at a marker outside the tags: a match inside
        // one would be passed over anyway, and its greedy tail may be long.
        qsizetype p = line.indexOf(marker, from);
        while (p >= 0 && inMarkup(mask, p))
            p = line.indexOf(marker, p + 1);
        if (p < 0)
            break;
        const auto m = rule.firstMatch(line, p);
        if (!m)
            break;
        const TextRange whole = m->range();
        if (inMarkup(mask, whole.location)) {
            from = whole.location + 1;
            continue;
        }
        out.copyTo(whole.location);
        for (qsizetype k = 0; k < replacementTemplate.size(); ++k) {
            const QChar c = replacementTemplate.at(k);
            if (c == QLatin1Char('$') && k + 1 < replacementTemplate.size()
                && replacementTemplate.at(k + 1) >= QLatin1Char('1')
                && replacementTemplate.at(k + 1) <= QLatin1Char('9')) {
                const TextRange group = m->range(replacementTemplate.at(++k).unicode() - '0');
                if (group.isFound())
                    out.append(out.slice(group.location, group.end()));
            } else {
                out.append(QStringView(&c, 1));
            }
        }
        out.skipTo(whole.end());
        any = true;
        from = std::max(whole.end(), whole.location + 1);
    }
    if (matched)
        *matched = any;
    return out.finish();
}

std::optional<TextRange> tableCells(const QString &line, bool header)
{
    const Text t(line);
    const qsizetype n = t.size();
    auto endOfLine = [&](qsizetype y) { return y >= n || !t.dotAt(y); };
    qsizetype lineStart = 0;
    while (lineStart < n) {
        const qsizetype lineEnd = t.lineEnd(lineStart);
        const bool opens = t.is(lineStart, '|') && (!header || (t.is(lineStart + 1, '_') && t.is(lineStart + 2, '.')));
        if (opens) {
            const qsizetype cells = t.spaceRunEnd(lineStart + (header ? 3 : 1));
            const qsizetype cellsLineEnd = t.lineEnd(cells);
            // (.*) is greedy: try its ends from the farthest back.
            qsizetype spaceEnd = t.spaceRunEnd(cellsLineEnd);
            for (qsizetype k = cellsLineEnd; k >= cells;) {
                if (k < cellsLineEnd && !t.spaceAt(k))
                    spaceEnd = k;
                if (t.is(spaceEnd, '|') && endOfLine(spaceEnd + 1))
                    return TextRange{cells, k - cells};
                if (k == cells)
                    break;
                int len;
                t.before(k, len);
                k -= len;
            }
        }
        if (lineEnd >= n)
            break;
        // ^ also matches after each line terminator (a CR LF pair counts once).
        lineStart = lineEnd + t.lengthAt(lineEnd);
        if (t.unit(lineEnd) == '\r' && t.is(lineStart, '\n'))
            ++lineStart;
    }
    return std::nullopt;
}

QString tableSeparators(const QString &line, bool header)
{
    const Text t(line);
    Rewriter out(line);
    const qsizetype n = t.size();
    const QLatin1StringView replacement(header ? "</th><th>" : "</td><td>");
    qsizetype i = 0;
    while (i < n) {
        const qsizetype bar = header ? line.indexOf(QLatin1StringView("|_"), i) : line.indexOf(QLatin1Char('|'), i);
        if (bar < 0)
            break;
        qsizetype start = bar;
        while (start > i) {
            int len;
            if (!isSpace(t.before(start, len)))
                break;
            start -= len;
        }
        qsizetype end = t.spaceRunEnd(bar + (header ? 2 : 1));
        if (header) {
            if (t.is(end, '.'))
                ++end;
            end = t.spaceRunEnd(end);
        }
        out.copyTo(start);
        out.append(replacement);
        out.skipTo(end);
        i = end;
    }
    return out.finish();
}

QString lineBreaks(const QString &src)
{
    const Text t(src);
    Rewriter out(src);
    const qsizetype n = t.size();
    qsizetype free = 0; // matches may not overlap: none starts before this
    qsizetype i = 0;
    while ((i = src.indexOf(QLatin1Char('\n'), i)) >= 0) {
        const qsizetype lf = i++;
        if (lf == 0 || lf + 1 >= n)
            continue;
        int before, after;
        const char32_t prev = t.before(lf, before);
        const char32_t next = t.at(lf + 1, after);
        if (lf - before < free || prev == '\n')
            continue;
        if (next == '#' || next == '*' || next == '\n' || next == '|' || next == 'p')
            continue;
        out.copyTo(lf);
        out.append(QLatin1StringView("<br/>"));
        out.skipTo(lf + 1);
        free = lf + 1 + after;
    }
    return out.finish();
}

QString wrapMatches(const QString &src, const RegExConvenience::Regex &rule, QLatin1StringView open,
                    QLatin1StringView close)
{
    const std::vector<std::uint8_t> mask = markupMask(src);
    if (mask.empty())
        return rule.replace(src, open + QStringLiteral("$1") + close);
    Rewriter out(src);
    for (const RegExConvenience::RegexMatch &m : rule.matches(src)) {
        const TextRange whole = m.range();
        if (inMarkup(mask, whole.location) || inMarkup(mask, whole.end() - 1))
            continue;
        out.copyTo(whole.location);
        out.append(open);
        out.append(out.slice(m.range(1).location, m.range(1).end()));
        out.append(close);
        out.skipTo(whole.end());
    }
    return out.finish();
}

} // namespace textile
