#pragma once

// The control characters of the instrument's serial protocol.
namespace qm::wire {

inline constexpr char STX = '\x02';
inline constexpr char ETX = '\x03';
inline constexpr char ACK = '\x06';
inline constexpr char NAK = '\x15';
inline constexpr char CR = '\r';

} // namespace qm::wire
