#include <gtest/gtest.h>

#ifdef LEAFHAUL_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing tests must work without a display. InitGoogleTest has taken
    // the flag out of argv by now: ask gtest.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
