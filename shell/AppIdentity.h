#pragma once

#include <QString>

namespace qm {

inline constexpr const char* AppTitle = "QM-6200 DATA LINK SOFTWARE";

struct AppVersion {
    int major;
    int minor;
    int revision;
};

// The project's version (CMakeLists.txt). The texts that show it add an "E" after the numbers.
inline constexpr AppVersion Version{QM6200_VERSION_MAJOR, QM6200_VERSION_MINOR,
                                    QM6200_VERSION_PATCH};

} // namespace qm
