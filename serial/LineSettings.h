#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

// Line settings in the serial control's text form "baud,parity,data bits,stop bits",
// for example "9600,n,8,1".
struct LineSettings {
    int baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// The only settings the instrument uses.
inline constexpr std::string_view InstrumentSettings = "9600,n,8,1";

// Parses the text form; nothing for a malformed text. The parity letter is one of
// n, e, o, m, s in either case; data bits 5 to 8; stop bits 1, 1.5 or 2.
std::optional<LineSettings> ParseSettings(std::string_view text);

} // namespace qm
