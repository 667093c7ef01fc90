// SPDX-License-Identifier: GPL-3.0-or-later
// main() of the discovery tests: the DNS lookups and downloads run in Qt event loops, which want the application
// object.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
