#include "protocol/ControlCharacters.h"

#include <array>

namespace qm {

QString ControlCharacterName(QChar c)
{
    static constexpr std::array<const char*, 32> names = {
        "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
        "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
        "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    const char16_t code = c.unicode();
    if (code < names.size())
        return QString::fromLatin1(names[code]);
    if (code == 0x7f)
        return QStringLiteral("DEL");
    return {};
}

QString SpokenText(QStringView text)
{
    QString spoken;
    spoken.reserve(text.size() * 2);
    bool afterName = false;
    for (const QChar c : text) {
        const QString name = ControlCharacterName(c);
        if (name.isEmpty()) {
            if (afterName && c != QLatin1Char(' '))
                spoken += QLatin1Char(' ');
            spoken += c;
            afterName = false;
            continue;
        }
        if (!spoken.isEmpty() && !spoken.endsWith(QLatin1Char(' ')))
            spoken += QLatin1Char(' ');
        spoken += name;
        afterName = true;
    }
    return spoken;
}

} // namespace qm
