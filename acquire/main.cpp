// qm6200-acquire: fetches, saves and clears the instrument's records from the command line.
// See --help and the manual page.

#include "acquire/Program.h"
#include "process/StopSignals.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    // Before anything else: a stop signal must never end the program with the port open,
    // and a closed pipe on standard output is a failed write, reported as one.
    qm::StopSignals::Block();
    qm::acquire::KeepStandardDescriptors();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qm6200-acquire"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QM6200_VERSION));
    // The bytes themselves: QCoreApplication::arguments() has already read them as UTF-8, a
    // name that is not UTF-8 made into another.
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    return qm::acquire::Run(arguments);
}
