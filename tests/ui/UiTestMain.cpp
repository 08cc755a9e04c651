// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the window tests inside a QApplication on the offscreen platform, so that they need no
// display and draw with real fonts into real images.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
