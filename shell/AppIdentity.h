#pragma once

#include <QString>

namespace qm {

inline constexpr const char* AppTitle = "QM-6200 DATA LINK SOFTWARE";

struct AppVersion {
    int major;
    int minor;
    int revision;
};

inline constexpr AppVersion Version{0, 9, 6};

} // namespace qm
