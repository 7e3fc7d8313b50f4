// A program that journals as the real ones do, for the tests that need another process: one
// killed while it runs, or two writing the same journal at once.
//   journal_writer PATH PORT ACQUISITIONS RECORDS [--unfinished] [--hold] [--watch]
// Journals the samples 1 to ACQUISITIONS of tests/journal/Samples.h on PORT, with RECORDS
// records each (the last one's answer not over with --unfinished), with --watch each followed
// by a reading of a watch of PORT, then prints "handed over".
// With --hold it goes on running until it is killed; otherwise it waits until all is
// written and exits, 0 when the journal never failed. A failure is printed on standard error.

#include "journal/JournalWriter.h"
#include "tests/journal/Samples.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 5) {
        std::fputs("usage: journal_writer PATH PORT ACQUISITIONS RECORDS [--unfinished] [--hold] "
                   "[--watch]\n",
                   stderr);
        return 2;
    }
    const int acquisitions = arguments[3].toInt();
    const int records = arguments[4].toInt();
    const bool unfinished = arguments.contains(QStringLiteral("--unfinished"));

    qm::JournalWriter writer(arguments[1]);
    bool failed = false;
    QObject::connect(&writer, &qm::JournalWriter::Failed, [&](const QString& message) {
        failed = true;
        std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    const qm::JournalWriter::Watch watch =
        arguments.contains(QStringLiteral("--watch"))
            ? writer.WatchStarted(qm::test::SampleWatch({arguments[2]}))
            : 0;
    for (int number = 1; number <= acquisitions; ++number) {
        const bool over = !unfinished || number < acquisitions;
        qm::test::Journal(writer, qm::test::Sample(number, arguments[2], records, ".",
                                                   over ? qm::JournalOutcome::Records
                                                        : qm::JournalOutcome::Pending));
        writer.Reading(watch, qm::test::SampleReading(number, 1));
    }
    std::puts("handed over");
    std::fflush(stdout);
    if (arguments.contains(QStringLiteral("--hold")))
        return app.exec();
    writer.WaitUntilWritten();
    return failed ? 1 : 0;
}
