#include "app/NotebookNames.h"

#include "app/NoteText.h"
#include "foundation/Error.h"

namespace {

constexpr int kNotebookNameLengthMax = 100;
constexpr int kNotebookStackLengthMax = 100;

} // namespace

namespace NotebookNames {

QString fixupNotebookTitle(const QString &title)
{
    const QString fitted = NoteText::fitToLimit(title, kNotebookNameLengthMax);
    return fitted.isEmpty() ? localizedString("Untitled Notebook") : fitted;
}

QString notebookStackName(const QString &sitename)
{
    return NoteText::fitToLimit(localizedString("%1 Backpack Account").arg(sitename.trimmed()),
                                kNotebookStackLengthMax);
}

} // namespace NotebookNames
