#pragma once

// ICU regular expressions behind a small API on QString. Patterns use ICU's
// syntax and replacement templates ICU's "$1" groups.
//
// Threads: a `Regex` holds an immutable compiled pattern that any number of
// threads may use at once; every call makes its own matcher. The functions
// taking a pattern string compile each distinct (pattern, options) once per
// process and keep it in a shared cache.

#include "foundation/TGFoundation.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

#include <unicode/regex.h>

namespace RegExConvenience {

enum Option : std::uint32_t {
    NoOptions = 0,
    CaseInsensitive = UREGEX_CASE_INSENSITIVE,
    FreeSpacing = UREGEX_COMMENTS, // white space and #-comments in the pattern
    DotMatchesAll = UREGEX_DOTALL,
    MultiLine = UREGEX_MULTILINE, // ^ and $ at every line break
};
using Options = std::uint32_t;

// One match: ranges[0] is the whole match, ranges[i] capture group i
// (location -1 when the group took no part).
struct RegexMatch
{
    QList<TextRange> ranges;

    TextRange range(int group = 0) const { return ranges.value(group); }
    QString captured(const QString &text, int group = 0) const;
};

class Regex
{
public:
    Regex() = default;
    explicit Regex(const QString &pattern, Options options = NoOptions);

    // False when the pattern did not compile; every operation then finds nothing.
    bool isValid() const { return m_pattern != nullptr; }
    const QString &pattern() const { return m_source; }
    const QString &errorText() const { return m_error; }

    bool isMatched(const QString &text) const;
    // Every match of the pattern over the whole text replaced by the template.
    QString replace(const QString &text, const QString &replacementTemplate) const;
    // The first match starting at or after `from`.
    std::optional<RegexMatch> firstMatch(const QString &text, qsizetype from = 0) const;
    // Every match inside `range`, which bounds the search as if the text
    // were cut to it (^ and $ at its ends, look-around not past them).
    QList<RegexMatch> matches(const QString &text, TextRange range) const;
    QList<RegexMatch> matches(const QString &text) const { return matches(text, TGFoundation::fullRange(text)); }

private:
    std::shared_ptr<const icu::RegexPattern> m_pattern;
    QString m_source;
    QString m_error;
};

// The compiled pattern from the process-wide cache.
Regex regex(const QString &pattern, Options options = NoOptions);

QString replaceRegex(const QString &text, const QString &pattern, const QString &replacementTemplate,
                     Options options = NoOptions);
bool isMatchedByRegex(const QString &text, const QString &pattern, Options options = NoOptions);
// Matches with "^"/"$" at every line break and free spacing allowed in the
// pattern; a pattern that does not compile gives no matches.
QList<RegexMatch> arrayOfCaptureComponentsMatchedByRegex(const QString &text, const QString &pattern, TextRange range);
QList<RegexMatch> arrayOfCaptureComponentsMatchedByRegex(const QString &text, const QString &pattern);

} // namespace RegExConvenience
