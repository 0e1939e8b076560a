// Test entry point for suites that use the window framework: one application
// object on the offscreen platform, made before any test runs. Serial ports
// take their lock files in the tests' own lock folder.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "support/lock_folder.h"

int main(int argc, char** argv)
{
    scratch::UseTestLockFolder();
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
