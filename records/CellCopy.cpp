#include "records/CellCopy.h"

#include <algorithm>
#include <set>
#include <utility>

namespace qm {

namespace {

QString CellText(const QString& text)
{
    const bool quoted = text.contains(QLatin1Char('\t')) || text.contains(QLatin1Char('\n'))
                        || text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('"'));
    if (!quoted)
        return text;
    QString cell = text;
    cell.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + cell + QLatin1Char('"');
}

} // namespace

QString TabSeparatedCells(const std::vector<CellPlace>& places,
                          const std::function<QString(int row, int column)>& text)
{
    if (places.empty())
        return {};
    std::set<std::pair<int, int>> given;
    int top = places.front().row;
    int bottom = top;
    int left = places.front().column;
    int right = left;
    for (const CellPlace& place : places) {
        given.insert({place.row, place.column});
        top = std::min(top, place.row);
        bottom = std::max(bottom, place.row);
        left = std::min(left, place.column);
        right = std::max(right, place.column);
    }
    QString copy;
    for (int row = top; row <= bottom; ++row) {
        if (row > top)
            copy += QLatin1Char('\n');
        for (int column = left; column <= right; ++column) {
            if (column > left)
                copy += QLatin1Char('\t');
            if (given.count({row, column}))
                copy += CellText(text(row, column));
        }
    }
    return copy;
}

} // namespace qm
