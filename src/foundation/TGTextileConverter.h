#pragma once

// Turns Textile markup, as Backpack stores it, into HTML: a pass of inline
// rules over the whole text, then a pass over the lines for block markup
// (block quotes, headings, footnotes, lists, tables, paragraphs).
//
// No state is kept between calls; one converter may be used from one thread
// at a time, and separate converters from any number of threads.

#include <QString>

class TGTextileConverter
{
public:
    // An empty (or null) text comes back unchanged. `allowBlocks` does not
    // change the result; for a list item only the content of the first
    // paragraph element is returned. One trailing line feed is removed.
    QString convert(const QString &text) const;
    QString convert(const QString &text, bool allowBlocks) const;
    QString convert(const QString &text, bool allowBlocks, bool isListItem) const;

    // The text inside the first "<p>" up to the next "</p>" (or the end).
    QString cleanupListItem(const QString &html) const;
    // Both passes, without the trailing line feed handling of convert().
    QString process(const QString &text) const;
    // Links bare web addresses ("http://", "https://", "www.").
    QString autoLinkURLs(const QString &text) const;
};
