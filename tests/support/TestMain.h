#pragma once

#include "Sandbox.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTest>

// Like QTEST_GUILESS_MAIN / QTEST_MAIN, with the sandbox set up before the
// application object exists.
#define KERNWELL_TEST_MAIN_IMPL(TestClass, AppClass)                                                                   \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        kernwell::test::Sandbox sandbox;                                                                               \
        AppClass app(argc, argv);                                                                                      \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        TestClass test(sandbox);                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }

#define KERNWELL_TEST_MAIN(TestClass) KERNWELL_TEST_MAIN_IMPL(TestClass, QCoreApplication)
#define KERNWELL_GUI_TEST_MAIN(TestClass) KERNWELL_TEST_MAIN_IMPL(TestClass, QApplication)
