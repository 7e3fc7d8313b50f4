#include "acquire/Options.h"

#include "acquire/Outcome.h"
#include "files/Names.h"
#include "records/CsvExport.h"

#include <QCommandLineParser>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

namespace qm::acquire {

namespace {

using std::chrono::milliseconds;

// A day: longer waits are typing mistakes, and the millisecond counts stay small.
constexpr double LongestSeconds = 86400;
// A watch runs for a year at most, and reads at least a second apart: the instrument answers
// a reading within a few tens of milliseconds, and faster would only fill the disk.
constexpr double LongestWatchSeconds = 366 * 86400.0;
constexpr double LeastIntervalSeconds = 1;

// Seconds, fractions allowed ("0.5"), written with a point whatever the locale.
bool ReadSeconds(const QString& text, milliseconds& value, double least = 0,
                 double most = LongestSeconds)
{
    bool ok = false;
    const double seconds = text.trimmed().toDouble(&ok);
    // Also false for "nan" and "inf".
    if (!ok || !(seconds > least && seconds <= most))
        return false;
    value = milliseconds(std::max<long long>(1, std::llround(seconds * 1000)));
    return true;
}

bool ReadMilliseconds(const QString& text, milliseconds& value)
{
    bool ok = false;
    const qlonglong ms = text.trimmed().toLongLong(&ok);
    if (!ok || ms < 1 || ms > qlonglong(LongestSeconds) * 1000)
        return false;
    value = milliseconds(ms);
    return true;
}

enum class SpanUnit { Seconds, Milliseconds, WatchSeconds };

// A span given by `option`, read into `value`. What does not read as one is a problem, named
// after the option; an option not given is none.

QString ReadSpan(const QCommandLineParser& parser, const QCommandLineOption& option, SpanUnit unit,
                 milliseconds& value)
{
    if (!parser.isSet(option))
        return {};
    const QString text = parser.value(option);
    const QString name = QStringLiteral("--") + option.names().constFirst();
    if (unit == SpanUnit::WatchSeconds)
        return ReadSeconds(text, value, 0, LongestWatchSeconds)
                   ? QString()
                   : QStringLiteral("%1 takes seconds, more than 0 and at most %2 (366 days), "
                                    "not \"%3\".")
                         .arg(name, QString::number(qlonglong(LongestWatchSeconds)), text);
    if (unit == SpanUnit::Seconds)
        return ReadSeconds(text, value)
                   ? QString()
                   : QStringLiteral("%1 takes seconds, more than 0 and at most %2, not \"%3\".")
                         .arg(name, QString::number(qlonglong(LongestSeconds)), text);
    return ReadMilliseconds(text, value)
               ? QString()
               : QStringLiteral("%1 takes whole milliseconds, from 1 to %2, not \"%3\".")
                     .arg(name, QString::number(qlonglong(LongestSeconds) * 1000), text);
}

ParsedArguments Problem(const QString& text)
{
    ParsedArguments parsed;
    parsed.problem = text;
    return parsed;
}

} // namespace

ParsedArguments ParseArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")}, QString(),
                                  QStringLiteral("PORT"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")}, QString(),
                                    QStringLiteral("FILE"));
    const QCommandLineOption thenClear(QStringLiteral("then-clear"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption wait(QStringLiteral("wait"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption waitPort(QStringLiteral("wait-port"), QString(),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption idle(QStringLiteral("idle"), QString(), QStringLiteral("MS"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QString(),
                                     QStringLiteral("SECONDS"));
    const QCommandLineOption quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
    const QCommandLineOption noJournal(QStringLiteral("no-journal"));
    const QCommandLineOption every(QStringLiteral("every"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption count(QStringLiteral("count"), QString(), QStringLiteral("N"));
    const QCommandLineOption span(QStringLiteral("for"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption database(QStringLiteral("database"), QString(),
                                      QStringLiteral("CONNINFO"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({port, output, thenClear, yes, wait, waitPort, idle, timeout, quiet,
                       noJournal, every, count, span, database, help, version});

    // parse(), not process(): process() ends the program itself, with a status of its own.
    if (!parser.parse(arguments))
        return Problem(parser.errorText());
    if (parser.isSet(help))
        return {ParsedArguments::Help, {}, {}};
    if (parser.isSet(version))
        return {ParsedArguments::Version, {}, {}};

    Options options;
    const QStringList commands = parser.positionalArguments();
    if (commands.isEmpty())
        return Problem(
            QStringLiteral("no command: give records, present, clear, watch, history or sync."));
    const QString& command = commands.front();
    const bool history = command == QLatin1String("history");
    if (commands.size() > (history ? 2 : 1))
        return Problem(
            history ? QStringLiteral("\"history\" takes one acquisition's number at "
                                     "most, not \"%1\".")
                          .arg(commands.mid(1).join(u' '))
                    : QStringLiteral("one command only, not \"%1\".").arg(commands.join(u' ')));
    if (command == QLatin1String("records"))
        options.command = Command::Records;
    else if (command == QLatin1String("present"))
        options.command = Command::Present;
    else if (command == QLatin1String("clear"))
        options.command = Command::Clear;
    else if (command == QLatin1String("watch"))
        options.command = Command::Watch;
    else if (history)
        options.command = Command::History;
    else if (command == QLatin1String("sync"))
        options.command = Command::Sync;
    else
        return Problem(
            QStringLiteral("unknown command \"%1\": give records, present, clear, watch, "
                           "history or sync.")
                .arg(command));
    if (options.command != Command::Sync && parser.isSet(database))
        return Problem(QStringLiteral("--database goes with \"sync\" only."));
    const bool watch = options.command == Command::Watch;
    if (!watch) {
        for (const auto& [option, name] :
             {std::pair{&every, "--every"}, std::pair{&count, "--count"},
              std::pair{&span, "--for"}}) {
            if (parser.isSet(*option))
                return Problem(
                    QStringLiteral("%1 goes with \"watch\" only.").arg(QLatin1String(name)));
        }
    }

    if (parser.isSet(output)) {
        options.output = parser.value(output);
        if (options.output.isEmpty())
            return Problem(
                QStringLiteral("--output needs a file name (or - for standard output)."));
        if (options.output == QLatin1String("-"))
            options.output.clear();
    }
    options.quiet = parser.isSet(quiet);
    options.journal = !parser.isSet(noJournal);

    if (options.command == Command::Sync) {
        const std::pair<const QCommandLineOption*, const char*> runOnly[] = {
            {&port, "-p"},     {&output, "-o"},         {&thenClear, "--then-clear"},
            {&yes, "--yes"},   {&wait, "--wait"},       {&waitPort, "--wait-port"},
            {&idle, "--idle"}, {&timeout, "--timeout"}, {&noJournal, "--no-journal"}};
        for (const auto& [option, name] : runOnly) {
            if (parser.isSet(*option))
                return Problem(QStringLiteral("%1 does not go with \"sync\", which sends the "
                                              "journal to the lab's database.")
                                   .arg(QLatin1String(name)));
        }
        options.database = parser.value(database).trimmed();
        if (parser.isSet(database) && options.database.isEmpty())
            return Problem(QStringLiteral("--database needs a connection string, such as "
                                          "--database \"host=db1 dbname=lab\"."));
        return {ParsedArguments::Run, options, {}};
    }

    if (history) {
        // A run's options would mean nothing here: a script that gives them expects something
        // else, and is told so rather than half obeyed.
        const std::pair<const QCommandLineOption*, const char*> runOnly[] = {
            {&port, "-p"},           {&thenClear, "--then-clear"}, {&yes, "--yes"},
            {&wait, "--wait"},       {&waitPort, "--wait-port"},   {&idle, "--idle"},
            {&timeout, "--timeout"}, {&noJournal, "--no-journal"}};
        // (--every, --count and --for were refused above.)
        for (const auto& [option, name] : runOnly) {
            if (parser.isSet(*option))
                return Problem(QStringLiteral("%1 does not go with \"history\", which reads the "
                                              "journal and sends nothing.")
                                   .arg(QLatin1String(name)));
        }
        if (commands.size() == 2) {
            bool ok = false;
            options.acquisition = commands[1].toLongLong(&ok);
            if (!ok || options.acquisition < 1)
                return Problem(QStringLiteral("\"history\" takes the number of an acquisition "
                                              "as \"qm6200-acquire history\" lists it, not "
                                              "\"%1\".")
                                   .arg(commands[1]));
        } else if (parser.isSet(output)) {
            return Problem(QStringLiteral("--output goes with \"history N\", which writes "
                                          "records; the list goes to standard output."));
        }
        return {ParsedArguments::Run, options, {}};
    }

    for (const QString& given : parser.values(port))
        options.ports << given.trimmed();
    options.port = options.ports.value(0);
    if (options.port.isEmpty() || options.ports.contains(QString()))
        return Problem(
            QStringLiteral("no port: give -p PORT, such as -p COM1 or -p /dev/ttyUSB0."));
    if (!watch && options.ports.size() > 1)
        return Problem(QStringLiteral("one port only, not %1: several go with \"watch\".")
                           .arg(options.ports.join(QStringLiteral(", "))));
    if (options.ports.removeDuplicates() > 0)
        return Problem(QStringLiteral("each port once: a port read twice at each interval would "
                                      "mix two readings on one line."));
    options.thenClear = parser.isSet(thenClear);
    options.yes = parser.isSet(yes);

    const std::tuple<const QCommandLineOption&, SpanUnit, milliseconds&> spans[] = {
        {wait, SpanUnit::Seconds, options.wait},
        {waitPort, SpanUnit::Seconds, options.waitPort},
        {idle, SpanUnit::Milliseconds, options.idle},
        {timeout, SpanUnit::Seconds, options.timeout}};
    for (const auto& [option, unit, value] : spans) {
        const QString problem = ReadSpan(parser, option, unit, value);
        if (!problem.isEmpty())
            return Problem(problem);
    }

    if (watch) {
        // A reading is over well within its second: a present value is one short frame.
        if (!parser.isSet(idle))
            options.idle = milliseconds(100);
        if (!parser.isSet(every))
            return Problem(QStringLiteral("\"watch\" needs --every SECONDS, the interval between "
                                          "readings (1 at least)."));
        if (!ReadSeconds(parser.value(every), options.every, LeastIntervalSeconds - 1e-9)
            || options.every < milliseconds(1000))
            return Problem(QStringLiteral("--every takes seconds, at least 1 and at most %1, not "
                                          "\"%2\".")
                               .arg(qlonglong(LongestSeconds))
                               .arg(parser.value(every)));
        if (parser.isSet(count) && parser.isSet(span))
            return Problem(QStringLiteral("--count and --for do not go together: give the "
                                          "readings per port or the time the watch runs."));
        if (parser.isSet(count)) {
            bool ok = false;
            options.count = parser.value(count).trimmed().toLongLong(&ok);
            if (!ok || options.count < 1)
                return Problem(QStringLiteral("--count takes a number of readings per port, 1 "
                                              "or more, not \"%1\".")
                                   .arg(parser.value(count)));
        }
        if (const QString problem = ReadSpan(parser, span, SpanUnit::WatchSeconds, options.span);
            !problem.isEmpty())
            return Problem(problem);
        for (const auto& [option, name] :
             {std::pair{&thenClear, "--then-clear"}, std::pair{&yes, "--yes"}}) {
            if (parser.isSet(*option))
                return Problem(QStringLiteral("%1 does not go with \"watch\", which only reads "
                                              "present values.")
                                   .arg(QLatin1String(name)));
        }
    }
    if (options.command == Command::Clear) {
        if (!options.yes)
            return Problem(QStringLiteral("\"clear\" erases the instrument's records: add --yes "
                                          "to confirm (or use records --then-clear, which "
                                          "saves them first)."));
        if (parser.isSet(output))
            return Problem(QStringLiteral("\"clear\" writes no records, so --output does not go "
                                          "with it."));
    }
    if (options.thenClear) {
        if (options.command != Command::Records)
            return Problem(QStringLiteral("--then-clear goes with \"records\" only."));
        // Standard output may be a pipe to a program that fails later: only a file can be
        // known to hold the records before they are erased.
        if (options.toStandardOutput())
            return Problem(QStringLiteral("--then-clear needs --output FILE: the records must be "
                                          "safely in a file before the instrument is cleared."));
    }
    return {ParsedArguments::Run, options, {}};
}

ParsedArguments ParseCommandLine(const QList<QByteArray>& arguments)
{
    QStringList texts;
    for (const QByteArray& argument : arguments) {
        // The program's own name, first, names nothing the program uses.
        if (!texts.isEmpty() && !NameIsText(argument))
            return Problem(QStringLiteral("\"%1\" is not UTF-8, and this program reads every "
                                          "name as UTF-8: it would name another file or port. "
                                          "Give the name in UTF-8 (rename the file or link "
                                          "first if it exists).")
                               .arg(EscapedName(argument)));
        texts << QFile::decodeName(argument);
    }
    return ParseArguments(texts);
}

QString HelpText()
{
    return QStringLiteral(
               R"(Usage: qm6200-acquire [OPTIONS] records|present|clear
       qm6200-acquire [OPTIONS] --every SECONDS [--count N | --for SECONDS]
                      -p PORT [-p PORT]... watch
       qm6200-acquire [-o FILE] [-q] history [N]
       qm6200-acquire [-q] [--database CONNINFO] sync

Fetches the records stored in a QM-6200 counting instrument ("records") or its present
counter values ("present") over a serial line and writes them as CSV, or erases the
instrument's records ("clear"). The CSV has one line per record: seven quoted fields
(No., CNTR1 to CNTR5, TOTAL), CR LF, no header line; the same bytes as "Save Data"
of qm6200-datalink under the same locale. The line is 9600 baud, 8N1, RTS raised.

Every command sent, every character answered, every record and how each answer
ended go to the journal that qm6200-datalink keeps too (unless --no-journal):
${XDG_DATA_HOME:-~/.local/share}/qm6200/journal.sqlite3. A journal that cannot be
written is reported, even with -q, and costs nothing else.
"history" lists the acquisitions journaled, newest first, one a line: the number,
the time (UTC), the port, the command, the records, how the answer ended and the
program. "history N" writes acquisition N's records as CSV (to -o FILE or standard
output), the bytes that were written or shown at the time.

"watch" reads the present values of each port given every SECONDS, each port on
its own, until N readings per port (--count), the time given (--for, up to 366
days) or a stop signal, which lets the readings under way end. It writes a CSV
line for each reading as it ends: a header line, then "Time","Port",
"CNTR1" to "CNTR5","TOTAL","Note", CR LF. The time is local, with its offset from
UTC and milliseconds: when the command left, or when it was due for a reading
not sent. The note is empty for a good reading, else says why it holds no
values (no answer, error reply, line lost, waiting for the port, skipped: the
reading before was still running). A lost port is waited for, by who it is, while
the others go on. -o FILE is appended to when it begins with the same header
(a torn last line is cut off first, and noted); any other file is refused. %F
in FILE is the local date: a new file each day. Each line is on the disk within
a second. The journal keeps every reading; "history" lists a watch as one line,
under its first reading's number, and "history N" writes its CSV again.

"sync" sends every acquisition and reading of the journal that the lab's
PostgreSQL database has not yet confirmed, oldest first, each in a transaction
of its own, into its schema qm6200 (made when the role may), and marks them in
the journal: a sync cut short sends the rest next time, and nothing is ever
there twice. The database is --database, else "database=" under [lab] in
~/.config/qm6200/qm6200.conf, else in /etc/xdg/qm6200/qm6200.conf: a libpq
connection string or URI, in double quotes when it holds commas. Passwords
are not taken there: libpq finds them in ~/.pgpass, a service file or
PGPASSFILE, or use a client certificate; sslmode=verify-full is advised.

Options:
  -p, --port PORT      required: COM1 to COM4 or a device (/dev/ttyUSB0, a
                       /dev/serial/by-id name); the names the port dialog accepts.
                       "last": the port qm6200-datalink last opened (an adapter
                       found by its serial number under whatever name it has)
  -o, --output FILE    write the CSV to FILE; "-" or no option: standard output.
                       A new FILE, or one of your own with no other name in a
                       folder you may write, is written aside and put in place
                       whole, with the old one's group and mode. Any other
                       (hard-linked, another user's, of a group you are not in,
                       in a folder you may not write) is written in place, so
                       that its names and owner stay: a copy of its old content
                       waits beside it, FILE.old-XXXXXX, until the new content
                       is on the disk. In a folder you may not write there is no
                       copy, and a run killed while writing can leave FILE torn:
                       to avoid that, give a new file in a folder you may write.
      --then-clear     after "records" wrote its file completely, send the clear
                       command: only if the instrument, asked once more, still holds
                       exactly the records saved, and only if all went well
      --yes            needed for "clear" alone, which erases the instrument's records
      --wait SECONDS   how long to wait for the first character of the answer
                       (default 5)
      --wait-port SECONDS  wait up to this long for the port to appear before
                       starting (an adapter plugged in, a machine starting); a
                       port lost during the run is not waited for
      --idle MS        the answer is complete after this much silence on the line,
                       once a frame has closed (default 1000)
      --timeout SECONDS  the longest a whole answer may take (default 60)
      --every SECONDS  "watch": the interval between readings, 1 at least, fractions
                       allowed; --idle is 100 ms unless given
      --count N        "watch": end after N readings per port (those with a note
                       count too)
      --for SECONDS    "watch": end after this long (at most 366 days); with neither
                       --count nor --for, a watch runs until it is stopped
      --database CONNINFO  "sync": the lab's database, over the settings'
  -q, --quiet          no progress and no summary on standard error, only problems
      --no-journal     keep no journal of this run
  -h, --help           show this text
      --version        show the version

Progress (records received, time) goes to standard error while it is a terminal;
a summary line ends the run ("100 records saved to day1.csv").

Exit status:
)") + ExitStatusText();
}

QString ExitStatusText()
{
    // Each status with its meaning, the meaning wrapped at 78 columns under its first line.
    constexpr qsizetype Width = 78;
    const QString hanging(7, QLatin1Char(' '));
    QString text;
    for (const StatusMeaning& entry : StatusMeanings) {
        const QString status = QLatin1String(entry.status);
        QString line = QStringLiteral("  ") + status
                       + QString(std::max<qsizetype>(2, 5 - status.size()), QLatin1Char(' '));
        const QStringList words = QString::fromUtf8(entry.meaning).split(QLatin1Char(' '));
        bool first = true;
        for (const QString& word : words) {
            if (!first && line.size() + 1 + word.size() > Width) {
                text += line + QLatin1Char('\n');
                line = hanging;
                first = true;
            }
            line += (first ? QString() : QStringLiteral(" ")) + word;
            first = false;
        }
        text += line + QLatin1Char('\n');
    }
    QStringList order;
    for (const int status : StatusPrecedence())
        order << (status == exit_status::Signal ? QStringLiteral("128+N")
                                                : QString::number(status));
    return text
           + QStringLiteral("  Where two apply, the first of %1 is the status.\n"
                            "  Nothing is cleared unless the status would otherwise be 0.\n")
                 .arg(order.join(QStringLiteral(", ")));
}

} // namespace qm::acquire
