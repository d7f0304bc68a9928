#include <gtest/gtest.h>

#include <cstring>

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
    // Listing tests must work without a display.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            return RUN_ALL_TESTS();
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
