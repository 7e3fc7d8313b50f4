#pragma once

#include "base/Result.h"

#include <QString>

namespace qm {

// Where the user's own files go, by the XDG Base Directory rules, and the program's folders and
// files there: the user's alone (folders 0700, files 0600, whatever the umask; group and others
// lose their rights on those an earlier version made, and the user keeps what they had), never
// another kind of file, and never reached through a link at their own name. Other users may share
// the machine: what the program keeps (every record received, the port last used) is not theirs to
// read, and what they can plant (a link, a pipe, a folder of theirs) is not the program's.

// A folder's path, empty when there is none and nothing to tell of it; or why it cannot be
// used, in an operator's words.
using OwnPath = Result<QString>;

enum class UserFolderKind { Data, Config, Runtime };

// $XDG_DATA_HOME or else $HOME/.local/share; $XDG_CONFIG_HOME or else $HOME/.config;
// $XDG_RUNTIME_DIR, with nothing in its place. A variable that is not an absolute path is
// ignored, as the rules say; one whose bytes are not UTF-8 is refused (Qt would name another
// folder by it); a home that is missing is told.
OwnPath UserFolder(UserFolderKind kind);

// The program's folder in it: UserFolder(kind)/qm6200.
OwnPath ProgramFolder(UserFolderKind kind);

// The program's folder made ready. Made when `make` and it is not there (0700; the folders above
// it as the umask makes them, and otherwise left alone), else taken when it is a folder of the
// user's own, and brought to 0700. Gives the folder as the system reaches it, every link on the
// way resolved, so that the files in it are opened by a path with no link in it; or why it
// cannot be used (not a folder, another user's). With `make` false, a folder not there is no
// problem: the path is empty.
OwnPath PrepareOwnFolder(const QString& folder, bool make);

// A file of the program's own in a folder made ready: fine when it is not there, or is a
// regular file of the user's own, then brought to 0600; else why it may not be used. A link is
// never followed.
Result<> CheckOwnFile(const QString& path);

} // namespace qm
