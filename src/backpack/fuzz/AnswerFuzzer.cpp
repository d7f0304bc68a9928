// Arbitrary bytes as a Backpack answer: cleaned, parsed, and read as a page
// and as a page list, the way the client treats every service reply.
#include "backpack/TGBackpackAPI.h"
#include "backpack/TGBackpackPage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromUtf8(bytes);
    const QString cleaned = TGBackpackAPI::replaceForbiddenXMLCharacters(TGBackpackAPI::cleanupXML(text));
    TGBackpackAPI::escapeXMLCharacters(text);
    TGBackpackAPI::cdata(text);
    for (qsizetype i = 0; i < text.size() && i < 64; ++i)
        TGBackpackAPI::rangeOfAttributeValueFromString(text, i);

    auto document = XmlDocument::parse(cleaned.toUtf8());
    if (!document)
        return 0;
    TGBackpackPage page(QStringLiteral("1"), text.left(40), QString());
    page.titleForDisplay();
    page.setContents(*document);
    for (const WidgetRecord &widget : page.widgets())
        (void)widget.size();
    if (auto pages = document->nodes(QStringLiteral(".//pages/page")))
        for (xmlNodePtr node : *pages)
            (void)xml::attribute(node, "title");
    return 0;
}
