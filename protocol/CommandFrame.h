#pragma once

#include <string>
#include <string_view>

namespace qm {

// The command words the instrument understands.
inline constexpr std::string_view VerbRead = "RDD";
inline constexpr std::string_view VerbClear = "CLR";
inline constexpr std::string_view ArgumentAll = "ALL";
inline constexpr std::string_view ArgumentNow = "NOW";

// A command frame is STX, the verb, one space, the argument, ETX, CR: ten bytes for the
// three-letter words above. There is no checksum, length or sequence number.
std::string ComposeCommand(std::string_view verb, std::string_view argument);

} // namespace qm
