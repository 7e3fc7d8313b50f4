#pragma once

// The test programs' main, as QTEST_MAIN, QTEST_GUILESS_MAIN and QTEST_APPLESS_MAIN make it,
// each run in a home of its own (TemporaryHome).

#include "tests/support/TemporaryHome.h"

#include <QApplication>
#include <QTest>

// QTEST_MAIN, QTEST_GUILESS_MAIN and QTEST_APPLESS_MAIN, each in a home of its own.
#define QM6200_TEST_MAIN_WITH(Application, TestObject)                                             \
    int main(int argc, char* argv[])                                                               \
    {                                                                                              \
        qm::test::TemporaryHome home;                                                              \
        Application app(argc, argv);                                                               \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
#define QM6200_TEST_MAIN(TestObject) QM6200_TEST_MAIN_WITH(QApplication, TestObject)
#define QM6200_TEST_GUILESS_MAIN(TestObject) QM6200_TEST_MAIN_WITH(QCoreApplication, TestObject)
#define QM6200_TEST_APPLESS_MAIN(TestObject)                                                       \
    int main(int argc, char* argv[])                                                               \
    {                                                                                              \
        qm::test::TemporaryHome home;                                                              \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
