# Precompiled headers: Qt's and the standard library's headers that nearly every source reads,
# compiled once per group of targets that compile alike. A target takes its group's compiled
# headers from the group's first library (REUSE_FROM), which the compiler accepts only where
# every macro those headers test is defined the same: it refuses the file otherwise, and with
# warnings as errors the build says so.
#
# Only Qt's and the standard library's headers go in: the project's own change too often, and
# the system's (termios, unistd) define macros a source may not expect.

# The core libraries: Qt Core alone.
set(QM6200_CORE_HEADERS
    <QByteArray> <QDateTime> <QDir> <QFile> <QFileInfo> <QList> <QObject> <QString>
    <QStringList> <QTimer>
    <algorithm> <chrono> <cstdint> <functional> <memory> <optional> <string> <string_view>
    <utility> <vector>)
# Their compiled headers are a target's of their own, which every one of them may depend on
# (a library's would make the others depend on it, across the layers).
add_library(qm6200_core_headers OBJECT ${CMAKE_CURRENT_LIST_DIR}/PrecompiledHeaders.cpp)
target_link_libraries(qm6200_core_headers PRIVATE Qt6::Core qm6200_options qm6200_strict_strings)
set_target_properties(qm6200_core_headers PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
target_precompile_headers(qm6200_core_headers PRIVATE ${QM6200_CORE_HEADERS})
foreach(library qm6200_files qm6200_protocol qm6200_records qm6200_ports qm6200_serial
        qm6200_process qm6200_journal qm6200_line qm6200_watch qm6200_lab qm6200_acquire)
    target_precompile_headers(${library} REUSE_FROM qm6200_core_headers)
endforeach()

# The windows: the controls as well.
target_precompile_headers(qm6200_gui PRIVATE ${QM6200_CORE_HEADERS}
    <QAccessible> <QApplication> <QDialog> <QHeaderView> <QLabel> <QPainter> <QPushButton>
    <QTableView> <QWidget>)
target_precompile_headers(qm6200_shell REUSE_FROM qm6200_gui)

# The tests, the benchmarks and the fuzz targets: Qt Test's headers, the largest of all.
# Qt Test defines where each test's folders are (for QFINDTESTDATA, which no test uses) and
# its headers test those macros: a value per folder would make a compiled header per folder.
target_compile_options(qm6200_test_support PUBLIC
    -UQT_TESTCASE_BUILDDIR -UQT_TESTCASE_SOURCEDIR)
target_precompile_headers(qm6200_test_support PRIVATE ${QM6200_CORE_HEADERS}
    <QAccessible> <QApplication> <QElapsedTimer> <QProcess> <QRegularExpression>
    <QScopeGuard> <QSignalSpy> <QTemporaryDir> <QTest> <QWidget>
    <cmath> <cstdio> <cstdlib>)
# NAME: a target linked with qm6200_test_support takes its compiled headers.
function(qm6200_test_headers name)
    target_precompile_headers(${name} REUSE_FROM qm6200_test_support)
endfunction()
# The benchmarks built on the test library (where the build has them).
get_property(folders DIRECTORY ${PROJECT_SOURCE_DIR} PROPERTY SUBDIRECTORIES)
if(${PROJECT_SOURCE_DIR}/bench IN_LIST folders)
    get_property(benches DIRECTORY ${PROJECT_SOURCE_DIR}/bench PROPERTY BUILDSYSTEM_TARGETS)
    foreach(bench IN LISTS benches)
        get_target_property(links ${bench} LINK_LIBRARIES)
        if(qm6200_test_support IN_LIST links)
            qm6200_test_headers(${bench})
        endif()
    endforeach()
endif()
