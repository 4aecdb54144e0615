// The open-file dialog's filter: 24 entries of description and patterns, as the dialog takes them.
#pragma once

#include <QString>
#include <QStringList>

namespace app {

// "description|patterns|description|patterns|...|", exactly as the dialog is given it.
QString OpenDialogFilter();

// The patterns of "All Supported Files", trimmed ("*.avi", "*.mpeg", ... "*.mkv"), for files and folders
// dropped on the list.
QStringList SupportedFilePatterns();

}  // namespace app
