#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace qm {

// True when the bytes are a name as Qt reads and writes names: UTF-8, whatever the locale.
// Qt reads any other byte as U+FFFD and writes U+FFFD back as its own three bytes, so such
// a name, read and given back, is another file's, or no file's.
bool NameIsText(const QByteArray& bytes);

// The bytes of a file or folder on the way to `path` whose name is not text but reads as the
// same text as the name in `path`: what a save dialog lists that way, and hands back as
// another name. Empty when there is none.
QByteArray NameReadAsAnother(const QString& path);
// Why `path` is not written, when it may stand for another file (NameReadAsAnother), in a
// sentence for the operator; empty when it stands for itself alone.
QString NameDoubt(const QString& path);

// A name's bytes for a message: printable ASCII as it is, a backslash doubled, every other
// byte as \xNN, so that a name that is not text shows what is on the disk.
QString EscapedName(const QByteArray& bytes);

// A text from outside (a port's name, what a device calls itself) as it may be shown on a
// terminal or in a list: control and format characters (Unicode's Cc and Cf: escape
// sequences, a right-to-left override) as \xNN or \uNNNN, all else as it is. Such a character
// would act rather than show: clear a terminal, set its title, turn a line around.
QString ShownText(const QString& text);

// A user's name, or their number where the system knows no name.
QString UserName(uid_t user);

// What a node that is not a file is, in the words of the messages: "a folder", "a device",
// "a named pipe (FIFO)", "a socket".
QString NodeKind(mode_t mode);

} // namespace qm
