#include "serial/LineSettings.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace qm {

namespace {

std::vector<std::string_view> SplitFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const auto comma = text.find(',');
        fields.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            return fields;
        text.remove_prefix(comma + 1);
    }
}

std::optional<int> WholeNumber(std::string_view field)
{
    int value = 0;
    const auto* end = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (field.empty() || ec != std::errc{} || ptr != end)
        return std::nullopt;
    return value;
}

std::optional<Parity> ParityFromLetter(std::string_view field)
{
    if (field.size() != 1)
        return std::nullopt;
    switch (std::tolower(static_cast<unsigned char>(field.front()))) {
    case 'n':
        return Parity::None;
    case 'e':
        return Parity::Even;
    case 'o':
        return Parity::Odd;
    case 'm':
        return Parity::Mark;
    case 's':
        return Parity::Space;
    default:
        return std::nullopt;
    }
}

std::optional<StopBits> StopBitsFromText(std::string_view field)
{
    if (field == "1")
        return StopBits::One;
    if (field == "1.5")
        return StopBits::OneAndHalf;
    if (field == "2")
        return StopBits::Two;
    return std::nullopt;
}

} // namespace

std::optional<LineSettings> ParseSettings(std::string_view text)
{
    const auto fields = SplitFields(text);
    if (fields.size() != 4)
        return std::nullopt;
    const auto baud = WholeNumber(fields[0]);
    const auto parity = ParityFromLetter(fields[1]);
    const auto dataBits = WholeNumber(fields[2]);
    const auto stopBits = StopBitsFromText(fields[3]);
    if (!baud || *baud <= 0 || !parity || !dataBits || *dataBits < 5 || *dataBits > 8 || !stopBits)
        return std::nullopt;
    return LineSettings{*baud, *parity, *dataBits, *stopBits};
}

} // namespace qm
