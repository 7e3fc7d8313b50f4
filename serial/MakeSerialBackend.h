#pragma once

// The serial backend the programs use, as the build chose it (QM6200_SERIAL_BACKEND): the
// program's own over the terminal interface, or the one over Qt Serial Port. Reached through
// the library qm6200_serial, which links the one chosen.

#include "serial/CommBackend.h"

#ifdef QM6200_QT_SERIAL_BACKEND
#include "serial/qtserial/QtSerialBackend.h"
#else
#include "serial/SerialBackend.h"
#endif

#include <memory>

namespace qm {

inline std::unique_ptr<CommBackend> MakeSerialBackend()
{
#ifdef QM6200_QT_SERIAL_BACKEND
    return std::make_unique<QtSerialBackend>();
#else
    return std::make_unique<SerialBackend>();
#endif
}

} // namespace qm
