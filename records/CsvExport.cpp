#include "CsvExport.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace qm {

std::string CsvLine(const std::vector<std::string>& cells)
{
    std::string line;
    for (std::size_t column = 0; column < cells.size(); ++column) {
        if (column > 0)
            line += ',';
        line += '"';
        line += cells[column];
        line += '"';
    }
    line += "\r\n";
    return line;
}

std::string CsvContent(int rows, int columns, const std::function<std::string(int, int)>& cell)
{
    std::string content;
    std::vector<std::string> cells(static_cast<std::size_t>(columns));
    for (int row = 1; row <= rows; ++row) {
        for (int column = 0; column < columns; ++column)
            cells[static_cast<std::size_t>(column)] = cell(row, column);
        content += CsvLine(cells);
    }
    return content;
}

QString WriteWholeFile(const QString& path, std::string_view bytes)
{
    const QFileInfo target(path);
    if (target.isDir())
        return QObject::tr("it is a folder");
    if (!target.dir().exists())
        return QObject::tr("the folder %1 does not exist").arg(target.dir().path());
    // A file marked read-only is kept, also for a user whose rights would let it be replaced.
    if (target.exists() && (!target.isWritable() || !target.permission(QFile::WriteOwner)))
        return QObject::tr("the file is read-only");

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const auto size = static_cast<qint64>(bytes.size());
    // Everything must be on the disk before the file is put in place: commit() alone can
    // report success for bytes that a full disk refused, and replace the old file with an
    // empty one.
    if (file.write(bytes.data(), size) != size || !file.flush() || file.size() != size) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

std::vector<FileType> ParseFileTypes(const QString& filter)
{
    std::vector<FileType> types;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        FileType type{parts[i], parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)};
        // "*.*" means every file where the design comes from; here it would miss names
        // without a dot.
        for (QString& pattern : type.patterns) {
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
        }
        types.push_back(std::move(type));
    }
    return types;
}

} // namespace qm
