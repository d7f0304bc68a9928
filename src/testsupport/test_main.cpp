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
    // Listing tests must work without a display. (InitGoogleTest has taken
    // the flag out of argv by now.)
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
#ifdef LEAFHAUL_TEST_GUI
    // Without a display the widgets still work off screen.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
