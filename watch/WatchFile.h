#pragma once

#include "base/Result.h"

#include <QDate>
#include <QString>

#include <string_view>
#include <sys/stat.h>

namespace qm {

// The CSV file of a watch, appended to as the readings come, a line at a time.
//
// It is the operator's file, kept by the rules the files they save are (SafeWrite.h): a link
// is followed to the file it leads to and stays a link, a link that leads nowhere is refused,
// and so is whatever is not a file (a folder, a device, a named pipe, a socket), which is
// never opened to find out, nor waited on. A file of another user's that this user may
// write is written into. A file marked read-only is left alone. No file is ever replaced:
// lines are appended to the node there, so its other names, owner, group and mode stay as
// they were. Only a file that begins with the watch's header is written into; while one is
// open, the watch holds a lock on it (flock), so that a second watch given the same file is
// refused rather than mixing its lines and cuts into the first's.
//
// Every failure's reason is the end of a sentence the caller begins with the file's name
// ("Cannot write to " + Path() + ": " + reason), as a save's is.
class WatchFile {
public:
    // FILE as given. "%F" in it is the local date (yyyy-MM-dd), for a file per day; "%%" is a
    // "%", so that "%%F" is "%F" itself; any other "%" stays as it is.
    explicit WatchFile(QString pattern);
    // What was written and not synced yet is synced first.
    ~WatchFile();
    WatchFile(const WatchFile&) = delete;
    WatchFile& operator=(const WatchFile&) = delete;

    // The file of `localDate` by `pattern`.
    static QString PathOf(const QString& pattern, const QDate& localDate);
    // The pattern names a file per day.
    bool PerDay() const;

    // Makes the file of `localDate` the current one; called before each reading's line. It is
    // opened when it is another than the open one: another name, or the name now standing for
    // another node, or none (the file moved away, or removed); what the old one was given is
    // synced first. A new file is created (0666 less the umask) with the header; an existing
    // one must begin with exactly the header, else it is refused and never written, cut or
    // replaced. A last line without its CR LF (torn by a power cut) is cut off first. Empty
    // files, and those that hold only the start of the header, count as new. Only the start
    // and the end of a file are read: it may be gigabytes.
    Result<> Prepare(const QDate& localDate);
    // A torn line was cut off when the current file was opened: true once, then false (the
    // next reading's line notes it).
    bool TakeTorn();
    // Writes the line whole (O_APPEND), never a part of it, or fails: a part that went in
    // before the failure (the disk full) is cut off again. Fails when no file is open.
    Result<> Append(std::string_view line);
    // Makes what was written durable (fdatasync, and the folder's entry for a new file), if
    // anything was since the last call: the runner calls it within a second of each reading.
    Result<> Sync();
    // The file of the last Prepare, whether it opened or not (its failure names it); empty
    // before the first.
    QString Path() const { return m_path; }

private:
    void Close();

    QString m_pattern;
    QString m_path;
    int m_fd = -1;
    dev_t m_device = 0; // the open file's node
    ino_t m_node = 0;
    bool m_torn = false;
    bool m_unsynced = false;
    bool m_newName = false; // created: the folder's entry must reach the disk too
    off_t m_partLeft = -1;  // where a part of a line that could not be cut off begins
};

} // namespace qm
