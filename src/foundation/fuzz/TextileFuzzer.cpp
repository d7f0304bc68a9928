// Arbitrary bytes as Textile, the way Backpack page text reaches the
// converter: every entry point must return, and text that was sound UTF-16
// must stay so (no surrogate pair cut in two by a rule).
//
// The first byte picks the call's flags; the rest is the text (UTF-8).
#include "foundation/TGTextileConverter.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void requireSound(const QString &out, const char *what)
{
    if (!QStringView(out).isValidUtf16()) {
        std::fprintf(stderr, "textile fuzzer: %s broke a surrogate pair\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool allowBlocks = data[0] & 1, isListItem = data[0] & 2;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const TGTextileConverter converter;
    if (data[0] & 4) {
        // The helpers the converter is made of, on text no rule has touched.
        requireSound(converter.autoLinkURLs(text), "autoLinkURLs");
        requireSound(converter.cleanupListItem(text), "cleanupListItem");
        return 0;
    }
    requireSound(converter.convert(text, allowBlocks, isListItem), "convert");
    return 0;
}
