#pragma once

#include <QString>
#include <QStringView>

namespace qm {

// The name of a control character (code 0 to 31, or 127), as a screen reader should say it:
// "STX", "CR", "ACK", "NAK"...; empty for any other character.
QString ControlCharacterName(QChar c);

// A text as it is read aloud: each control character by its name, set apart from its
// neighbours by a blank ("\x02RDD ALL\x03\r" reads "STX RDD ALL ETX CR").
QString SpokenText(QStringView text);

} // namespace qm
