// Fuzz target: reading a field of a record as a number, and writing the number back as the
// table shows it.

#include "records/FieldNumber.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view field(reinterpret_cast<const char*>(data), size);
    const qm::FieldReading reading = qm::ReadField(field);
    if (reading.inRange && !std::isfinite(reading.value)) {
        std::fprintf(stderr, "a number in range that is not finite\n");
        std::abort();
    }
    const std::string shown = qm::FieldText(field, ".");
    if (shown.empty() && reading.inRange && reading.value != 0.0) {
        std::fprintf(stderr, "a non-zero number shown as nothing\n");
        std::abort();
    }
    // What is shown reads back as the same number.
    if (reading.inRange) {
        const qm::FieldReading again = qm::ReadField(shown);
        if (again.value != reading.value
            && std::fabs(again.value - reading.value) > 1e-12 * std::fabs(reading.value)) {
            std::fprintf(stderr, "%s reads back as another number\n", shown.c_str());
            std::abort();
        }
    }
    return 0;
}
