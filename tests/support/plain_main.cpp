// Test entry point for suites that need no window system. Serial ports
// take their lock files in the tests' own lock folder.
#include <gtest/gtest.h>

#include "support/lock_folder.h"

int main(int argc, char** argv)
{
    scratch::UseTestLockFolder();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
