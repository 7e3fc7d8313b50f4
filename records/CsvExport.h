#pragma once

#include "records/RecordLayout.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// One line of the export: the seven cell texts, each in double quotes, separated by commas
// with no spaces, then CR LF. Texts are written as they are, one byte per character.
std::string CsvLine(const std::vector<std::string>& cells);

// A data record's seven cells as "Save Data" writes them: the texts the table shows (each
// field read as a number and written back with the decimal separator of the moment), one
// byte per character, as the export reads the table's text back.
std::array<std::string, RecordColumns> CsvCells(std::string_view record,
                                                const QString& decimalSeparator);

// The whole file: a line for each of the rows 1 to `rows`, in order; nothing for 0 rows.
// `cell` gives the text of a cell (row, column).
std::string CsvContent(int rows, int columns, const std::function<std::string(int, int)>& cell);

// What a save did. `failure` is empty on success, else the reason in an operator's words;
// `oldContentKept` then tells whether what the name held before is still as it was.
struct SaveResult {
    QString failure;
    bool oldContentKept = true;
    // When the old content may be damaged: the copy of it kept beside the file, if there is
    // one.
    QString oldContentCopy = {};
};

// Writes the bytes to `path`, following symbolic links. Whatever is not a file (a device, a
// named pipe, a socket, a folder) and a link that leads nowhere are refused and left as they
// are, and so is a name that may stand for another (see NameReadAsAnother). A new file, or a
// file of the saver's own with no other name in a folder they may write, is written aside,
// given the old file's owner, group and mode, and then put in place, so that a failure leaves
// the old one untouched. Any other file, and one whose group the saver may not give (a group
// they are not in), is written into itself, so that its other names, its owner, group and
// mode and its folder stay as they were. Then the room is reserved first, so a full disk
// still changes nothing; where the folder may be written, a copy of the old content is kept
// beside the file ("NAME.old-XXXXXX") until the new content is on the disk, so that a save cut
// short (killed, the power lost) can be undone; a failure while writing puts the old bytes
// back, or, where they could not be, names the copy. In a folder the saver may not write,
// there is no copy, and a save cut short can leave the file torn.
//
// `beforeCut`, when given, is called in an in-place write once the new bytes are in and
// before the old end is cut off: the moment at which an interruption leaves the file most
// mixed, for a test to see what is on the disk then.
SaveResult WriteWholeFile(const QString& path, std::string_view bytes,
                          const std::function<void()>& beforeCut = {});

// True when the bytes are a name as Qt reads and writes names: UTF-8, whatever the locale.
// Qt reads any other byte as U+FFFD and writes U+FFFD back as its own three bytes, so such
// a name, read and given back, is another file's, or no file's.
bool NameIsText(const QByteArray& bytes);

// The bytes of a file or folder on the way to `path` whose name is not text but reads as the
// same text as the name in `path`: what a save dialog lists that way, and hands back as
// another name. Empty when there is none.
QByteArray NameReadAsAnother(const QString& path);

// A name's bytes for a message: printable ASCII as it is, a backslash doubled, every other
// byte as \xNN, so that a name that is not text shows what is on the disk.
QString EscapedName(const QByteArray& bytes);

// A file-type filter of the form "description|patterns|description|patterns...", as the
// save dialog is designed with, turned into the entries of its file-type list.
struct FileType {
    QString description;  // shown as it stands
    QStringList patterns; // what the list matches here: "*.*" (all files) becomes "*"
};
std::vector<FileType> ParseFileTypes(const QString& filter);

} // namespace qm
