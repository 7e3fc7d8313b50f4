#include "ui/FileTypes.h"

namespace qm {

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
