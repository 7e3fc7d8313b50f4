#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace qm {

// A file-type filter of the form "description|patterns|description|patterns...", as the
// save dialog is designed with, turned into the entries of its file-type list.
struct FileType {
    QString description;  // shown as it stands
    QStringList patterns; // what the list matches here: "*.*" (all files) becomes "*"
};
std::vector<FileType> ParseFileTypes(const QString& filter);

} // namespace qm
