#pragma once

#include "base/Result.h"

#include <QString>

#include <functional>
#include <string_view>

namespace qm {

// Files written whole, so that a failure or a crash part-way leaves what was there before.
// The operator's files (a CSV, a chart's picture, an export) and the program's own (its
// settings) are written by different rules: the first keep whatever makes them what they are
// to others, the second are never anyone's but the user's.

// Why a save failed, in an operator's words, and whether what the name held before is still
// as it was.
struct SaveFailure {
    QString reason;
    bool oldContentKept = true;
    // When the old content may be damaged: the copy of it kept beside the file, if there is
    // one.
    QString oldContentCopy = {};
};
using SaveResult = Result<void, SaveFailure>;

// An operator's file. Writes the bytes to `path`, following symbolic links. Whatever is not a
// file (a device, a named pipe, a socket, a folder) and a link that leads nowhere are refused
// and left as they are, and so is a name that may stand for another (see NameReadAsAnother).
// A new file, or a file of the saver's own with no other name in a folder they may write, is
// written aside, given the old file's owner, group and mode, and then put in place, so that a
// failure leaves the old one untouched. Any other file, and one whose group the saver may not
// give (a group they are not in), is written into itself, so that its other names, its owner,
// group and mode and its folder stay as they were. Then the room is reserved first, so a full
// disk still changes nothing; where the folder may be written, a copy of the old content is
// kept beside the file ("NAME.old-XXXXXX") until the new content is on the disk, so that a
// save cut short (killed, the power lost) can be undone; a failure while writing puts the old
// bytes back, or, where they could not be, names the copy. In a folder the saver may not
// write, there is no copy, and a save cut short can leave the file torn.
//
// `beforeCut`, when given, is called in an in-place write once the new bytes are in and
// before the old end is cut off: the moment at which an interruption leaves the file most
// mixed, for a test to see what is on the disk then.
SaveResult WriteWholeFile(const QString& path, std::string_view bytes,
                          const std::function<void()>& beforeCut = {});

// A file of the program's own, in a folder of the user's own (PrepareOwnFolder): a new file,
// made with O_EXCL beside `path` and readable by the user alone (0600), is filled by `fill`
// (given its name; a failure when it could not be), put on the disk and renamed
// into place. Never written through a link, nor into another file: what stood at `path` (a
// link included) is replaced whole; a folder or a device there is refused.
SaveResult ReplaceOwnFile(const QString& path,
                          const std::function<Result<>(const QString& temporary)>& fill);
// The same with the bytes.
SaveResult WriteOwnFile(const QString& path, std::string_view bytes);

} // namespace qm
