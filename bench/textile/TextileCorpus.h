#pragma once

#include <QString>

// About `size` UTF-16 units of Textile as people write it in Backpack notes:
// paragraphs with emphasis, code, links, addresses and line breaks,
// headings, block quotes, nested lists, tables, images and footnotes.
// The same seed gives the same text.
QString textileCorpus(qsizetype size, unsigned seed = 2026);

// `size` units of one hostile shape (see the kinds in the source).
QString hostileText(int kind, qsizetype size);
const char *hostileName(int kind);
int hostileKinds();
