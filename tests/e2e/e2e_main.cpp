// The end-to-end tests' main: they need an X server to run the window on and the X tools that
// play the operator. Without them the tests are skipped (exit code 77), never failed.

#include <gtest/gtest.h>

#include <iostream>

#include "e2e/x_display.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const std::vector<std::string> missing = kestrel::e2e::missingXPrograms();
    if (!missing.empty() && !GTEST_FLAG_GET(list_tests)) {
        std::cout << "e2e: skipped: not installed:";
        for (const std::string& name : missing) {
            std::cout << ' ' << name;
        }
        std::cout << " (make deps installs xvfb, xdotool and imagemagick)" << std::endl;
        return 77;
    }
    return RUN_ALL_TESTS();
}
