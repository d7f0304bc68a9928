#include "foundation/RegExConvenience.h"

#include <QHash>

#include <limits>
#include <mutex>
#include <shared_mutex>

namespace RegExConvenience {
namespace {

// A read-only ICU view of the QString's buffer; no copy.
icu::UnicodeString view(const QString &text)
{
    return icu::UnicodeString(false, reinterpret_cast<const UChar *>(text.utf16()), static_cast<int32_t>(text.size()));
}

QString toQString(const icu::UnicodeString &s)
{
    return QString(reinterpret_cast<const QChar *>(s.getBuffer()), s.length());
}

bool fitsIcu(const QString &text)
{
    return text.size() < std::numeric_limits<int32_t>::max();
}

RegexMatch currentMatch(icu::RegexMatcher &m, UErrorCode &status)
{
    RegexMatch match;
    const int32_t groups = m.groupCount();
    match.ranges.reserve(groups + 1);
    for (int32_t g = 0; g <= groups; ++g) {
        const int32_t start = m.start(g, status);
        const int32_t end = m.end(g, status);
        if (U_FAILURE(status) || start < 0)
            match.ranges.append(TextRange{});
        else
            match.ranges.append(TextRange{start, end - start});
    }
    return match;
}

} // namespace

QString RegexMatch::captured(const QString &text, int group) const
{
    const TextRange r = range(group);
    if (!r.isFound())
        return {};
    return text.mid(r.location, r.length);
}

Regex::Regex(const QString &pattern, Options options) : m_source(pattern)
{
    UParseError parseError;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(view(pattern), options, parseError, status));
    if (U_FAILURE(status)) {
        m_error = QString::fromLatin1(u_errorName(status)) + QStringLiteral(" at offset ")
                  + QString::number(parseError.offset);
        return;
    }
    m_pattern = std::move(compiled);
}

bool Regex::isMatched(const QString &text) const
{
    if (!m_pattern || !fitsIcu(text))
        return false;
    const icu::UnicodeString input = view(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(m_pattern->matcher(input, status));
    return U_SUCCESS(status) && m->find(status) && U_SUCCESS(status);
}

QString Regex::replace(const QString &text, const QString &replacementTemplate) const
{
    if (!m_pattern || !fitsIcu(text))
        return text;
    const icu::UnicodeString input = view(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(m_pattern->matcher(input, status));
    if (U_FAILURE(status) || !m->find(status) || U_FAILURE(status))
        return text; // nothing to replace: hand back the shared original
    m->reset();
    const icu::UnicodeString result = m->replaceAll(view(replacementTemplate), status);
    if (U_FAILURE(status))
        return text;
    return toQString(result);
}

std::optional<RegexMatch> Regex::firstMatch(const QString &text, qsizetype from) const
{
    if (!m_pattern || !fitsIcu(text) || from < 0 || from > text.size())
        return std::nullopt;
    const icu::UnicodeString input = view(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(m_pattern->matcher(input, status));
    if (U_FAILURE(status) || !m->find(static_cast<int64_t>(from), status) || U_FAILURE(status))
        return std::nullopt;
    RegexMatch match = currentMatch(*m, status);
    if (U_FAILURE(status))
        return std::nullopt;
    return match;
}

QList<RegexMatch> Regex::matches(const QString &text, TextRange range) const
{
    QList<RegexMatch> result;
    if (!m_pattern || !fitsIcu(text) || range.location < 0 || range.length < 0 || range.end() > text.size())
        return result;
    const icu::UnicodeString input = view(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(m_pattern->matcher(input, status));
    if (U_FAILURE(status))
        return result;
    m->region(static_cast<int64_t>(range.location), static_cast<int64_t>(range.end()), status);
    while (U_SUCCESS(status) && m->find()) {
        result.append(currentMatch(*m, status));
    }
    if (U_FAILURE(status))
        result.clear();
    return result;
}

namespace {

struct Key
{
    QString pattern;
    Options options;
    bool operator==(const Key &) const = default;
};

size_t qHash(const Key &key, size_t seed = 0)
{
    return ::qHash(key.pattern, seed) ^ key.options;
}

struct Cache
{
    std::shared_mutex lock;
    QHash<Key, Regex> compiled;
};

Cache &cache()
{
    static Cache instance;
    return instance;
}

} // namespace

Regex regex(const QString &pattern, Options options)
{
    Cache &c = cache();
    const Key key{pattern, options};
    {
        std::shared_lock reader(c.lock);
        const auto it = c.compiled.constFind(key);
        if (it != c.compiled.constEnd())
            return *it;
    }
    Regex fresh(pattern, options);
    std::unique_lock writer(c.lock);
    // Patterns are program constants; the bound only guards against a caller
    // that builds them from data.
    if (c.compiled.size() > 4096)
        c.compiled.clear();
    return *c.compiled.insert(key, std::move(fresh));
}

QString replaceRegex(const QString &text, const QString &pattern, const QString &replacementTemplate, Options options)
{
    return regex(pattern, options).replace(text, replacementTemplate);
}

bool isMatchedByRegex(const QString &text, const QString &pattern, Options options)
{
    return regex(pattern, options).isMatched(text);
}

QList<RegexMatch> arrayOfCaptureComponentsMatchedByRegex(const QString &text, const QString &pattern, TextRange range)
{
    return regex(pattern, MultiLine | FreeSpacing).matches(text, range);
}

QList<RegexMatch> arrayOfCaptureComponentsMatchedByRegex(const QString &text, const QString &pattern)
{
    return arrayOfCaptureComponentsMatchedByRegex(text, pattern, TGFoundation::fullRange(text));
}

} // namespace RegExConvenience
