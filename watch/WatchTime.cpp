#include "watch/WatchTime.h"

#include <QTime>

#include <cstdlib>

namespace qm {

namespace {

// The wall clock's reading at `utc` with that offset, held as a UTC time so that Qt adds no
// zone of its own.
QDateTime WallClock(const QDateTime& utc, int offsetSeconds)
{
    return QDateTime::fromMSecsSinceEpoch(utc.toMSecsSinceEpoch() + qint64(offsetSeconds) * 1000,
                                          Qt::UTC);
}

} // namespace

QString WatchTimeText(const QDateTime& utc, int offsetSeconds)
{
    if (!utc.isValid())
        return {};
    const int size = std::abs(offsetSeconds);
    const auto two = [](int value) {
        return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
    };
    QString offset = (offsetSeconds < 0 ? QStringLiteral("-") : QStringLiteral("+"))
                     + two(size / 3600) + QLatin1Char(':') + two(size / 60 % 60);
    if (size % 60 != 0)
        offset += QLatin1Char(':') + two(size % 60);
    return WallClock(utc, offsetSeconds).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz"))
           + offset;
}

int OffsetAt(const QDateTime& utc, const QTimeZone& zone)
{
    return zone.offsetFromUtc(utc);
}

int LocalOffsetAt(const QDateTime& utc)
{
    return utc.toLocalTime().offsetFromUtc();
}

QDate LocalDate(const QDateTime& utc, int offsetSeconds)
{
    return WallClock(utc, offsetSeconds).date();
}

QString LocalTimeText(const QDateTime& utc)
{
    const QDateTime local = utc.toLocalTime();
    const int offset = local.offsetFromUtc();
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
           + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
           + QTime(0, 0).addSecs(std::abs(offset)).toString(QStringLiteral("HH:mm"));
}

} // namespace qm
