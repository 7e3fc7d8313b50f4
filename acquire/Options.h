#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>

namespace qm::acquire {

// What the instrument is asked for.
enum class Command {
    Records, // "Acquire Record Data": every stored record
    Present, // "Acquire Present Value": the present counter values
    Clear,   // the clear-all command: the stored records are erased
    History, // no command: what the journal holds, listed or one acquisition's records
    Watch,   // "Acquire Present Value" of one or more instruments at an interval
    Sync,    // no command: what the journal holds sent to the lab's database
};

struct Options {
    Command command = Command::Records;
    QString port;      // as given: COM1 to COM4, a device, or "last" (the desktop's last port)
    QStringList ports; // for Watch: every port, as given, in order (the first is `port`)
    QString output;    // the CSV file; empty for standard output
    bool thenClear = false;
    bool yes = false;
    bool quiet = false;
    // Every command, the bytes answered, the records and how each answer ended are journaled.
    bool journal = true;
    // For History: the acquisition whose records are written; 0 lists them all.
    qint64 acquisition = 0;
    // Nothing at all within this after the command: no answer.
    std::chrono::milliseconds wait{5000};
    // How long the port may take to appear before the run starts (0: not at all).
    std::chrono::milliseconds waitPort{0};
    // The line quiet this long after a frame closed: the answer is complete.
    std::chrono::milliseconds idle{1000};
    // The longest a whole answer may take.
    std::chrono::milliseconds timeout{60000};
    // For Watch: the interval between readings; the readings per port (0: no limit); how long
    // the watch runs (0: until stopped).
    std::chrono::milliseconds every{0};
    qint64 count = 0;
    std::chrono::milliseconds span{0};
    // For Sync: the lab's database, over the settings' (a libpq connection string or URI).
    QString database;

    bool toStandardOutput() const { return output.isEmpty(); }
};

struct ParsedArguments {
    enum Kind { Run, Help, Version, Usage };
    Kind kind = Usage;
    Options options;
    QString problem; // for Usage: what is wrong, in one sentence
};

// Reads the command line; the first argument is the program's name, as
// QCoreApplication::arguments() gives it.
ParsedArguments ParseArguments(const QStringList& arguments);

// Reads the command line as the system gave it, each argument's bytes. Qt reads names as
// UTF-8 whatever the locale, and an argument that is not UTF-8 would come out as another name,
// that of another file or port: it is refused, named with its bytes escaped.
ParsedArguments ParseCommandLine(const QList<QByteArray>& arguments);

// The text of --help: the options, the outcomes and their exit statuses.
QString HelpText();
// The exit statuses, what each means and which counts where two apply, as --help ends.
QString ExitStatusText();

} // namespace qm::acquire
