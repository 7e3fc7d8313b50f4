#include "protocol/CommandFrame.h"

#include "protocol/WireChars.h"

namespace qm {

std::string ComposeCommand(std::string_view verb, std::string_view argument)
{
    std::string frame;
    frame.reserve(verb.size() + argument.size() + 4);
    frame += wire::STX;
    frame += verb;
    frame += ' ';
    frame += argument;
    frame += wire::ETX;
    frame += wire::CR;
    return frame;
}

} // namespace qm
