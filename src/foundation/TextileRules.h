#pragma once

// The Textile rules whose patterns would make ICU backtrack for a time that
// grows with the square (or worse) of a line's length on hostile input. Each
// function finds exactly the matches that ICU finds for the pattern in its
// comment, with a single forward scan instead.
//
// A match is left as it is (and the scan goes on after it) when it starts
// inside a tag, when a rule that makes a link would start inside a link's
// text, or when it would put "<", a double quote or a line feed into an
// attribute value:
// the rules run over text that earlier rules have already turned into
// markup, and the note content must stay well-formed.

#include "foundation/RegExConvenience.h"
#include "foundation/TGFoundation.h"

#include <QString>

#include <optional>

namespace textile {

// \b\[(.+?)\]  ->  <sup><a href="#fn$1">$1</a></sup>
QString footnoteReferences(const QString &text);
// (?<!\|)\b_(.+?)_\b  ->  <em>$1</em>
QString emphasis(const QString &text);
// ([\w\.!#\$%\-+.]+@[A-Za-z0-9\-]+(\.[A-Za-z0-9\-]+)+)  ->  <a href="mailto:$1">$1</a>
QString mailLinks(const QString &text);
// The bare web-address linker (see TGTextileConverter::autoLinkURLs).
QString autoLinkURLs(const QString &text);
// "([^"\(\n]+)\s?(\(([^\)]+)\))?":(\S+?)(\/)?([^\w\/;]*?)(?=<|\||\s|$)
//   ->  <a href="$4$5" title="$3">$1</a>$6
QString textileLinks(const QString &text);
// !\b(.+?)\(\b(.+?)\b\)!  ->  <img src="$1" alt="$2"/>
QString imagesWithAlt(const QString &text);
// !\b(.+?)\b!  ->  <img src="$1"/>
QString images(const QString &text);
// %\{(.*)\}(.*)%  ->  <span style="$1;">$2</span>
QString styledSpans(const QString &text);

// ([^\n])\n([^#\*\n\|p])  ->  $1<br/>$2 (scanned from line feed to line feed
// rather than tried at every character).
QString lineBreaks(const QString &text);

// Whether the line matches <a\s*href=".*">.*</a> anywhere.
bool holdsLinkElement(const QString &line);
// \s\++?(.+?)\+\s+?  ->  <ins>$1</ins>, except matches that start inside a
// tag; `matched` tells whether anything was replaced.
QString insertions(const QString &line, bool *matched);
// `rule`, whose matches begin with `marker`, replaced by `replacementTemplate`
// ($1 to $9), except matches that start inside a tag; `matched` tells whether
// anything was replaced.
QString replaceOutsideTags(const QString &line, const RegExConvenience::Regex &rule, QLatin1StringView marker,
                           QStringView replacementTemplate, bool *matched);
// Group 1 of the first match of ^\|\_\.\s*(.*)\s*\|$ (header) or
// ^\|\s*(.*)\s*\|$ (row), with ^ and $ at every line break.
std::optional<TextRange> tableCells(const QString &line, bool header);
// \s*\|\_\s*\.?\s*  ->  </th><th>   (header)
// \s*\|\s*          ->  </td><td>   (row)
QString tableSeparators(const QString &line, bool header);

// Every match of `rule` replaced by open + group 1 + close, except matches
// that begin or end inside a tag.
QString wrapMatches(const QString &text, const RegExConvenience::Regex &rule, QLatin1StringView open,
                    QLatin1StringView close);

} // namespace textile
