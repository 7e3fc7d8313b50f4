#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// One line of the export: the seven cell texts, each in double quotes, separated by commas
// with no spaces, then CR LF. Texts are written as they are, one byte per character.
std::string CsvLine(const std::vector<std::string>& cells);

// The whole file: a line for each of the rows 1 to `rows`, in order; nothing for 0 rows.
// `cell` gives the text of a cell (row, column).
std::string CsvContent(int rows, int columns, const std::function<std::string(int, int)>& cell);

// Writes the bytes to `path` aside and then puts them in place, so that a failure leaves
// whatever was there before untouched. Returns an empty text on success, else the reason
// in an operator's words.
QString WriteWholeFile(const QString& path, std::string_view bytes);

// A file-type filter of the form "description|patterns|description|patterns...", as the
// save dialog is designed with, turned into the entries of its file-type list.
struct FileType {
    QString description;  // shown as it stands
    QStringList patterns; // what the list matches here: "*.*" (all files) becomes "*"
};
std::vector<FileType> ParseFileTypes(const QString& filter);

} // namespace qm
