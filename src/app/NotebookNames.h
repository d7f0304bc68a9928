#pragma once

#include <QString>

// Notebook and stack names within the service's limits; Qt alone, so that
// the windows can name a stack without the note records.
namespace NotebookNames {

// A page's display title as a notebook name.
QString fixupNotebookTitle(const QString &title);
// The stack that holds a site's notebooks.
QString notebookStackName(const QString &sitename);

} // namespace NotebookNames
