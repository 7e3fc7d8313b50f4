// qm6200-acquire: fetches, saves and clears the instrument's records from the command line.
// See --help and the manual page.

#include "acquire/Program.h"
#include "link/StopSignals.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <csignal>

int main(int argc, char* argv[])
{
    // Before anything else: a stop signal must never end the program with the port open.
    qm::StopSignals::Block();
    // A closed pipe on standard output is a failed write, reported as one.
    std::signal(SIGPIPE, SIG_IGN);
    qm::acquire::KeepStandardDescriptors();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qm6200-acquire"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QM6200_VERSION));
    // Standard error is the operator's: the maintainers' diagnostics stay off unless
    // QT_LOGGING_RULES asks for them.
    QLoggingCategory::setFilterRules(QStringLiteral("qm6200.*=false"));
    // The bytes themselves: QCoreApplication::arguments() has already read them as UTF-8, a
    // name that is not UTF-8 made into another.
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    return qm::acquire::Run(arguments);
}
