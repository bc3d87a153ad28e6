// The main of the wizard's test programs: a QApplication on the offscreen
// platform (also when the tests are listed, where CTest's environment does not
// apply) and the build folders in the environment, then every test.
#include <QApplication>

#include <cstdlib>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
#ifdef WIZARD_TEST_BINARY_DIR
    setenv("QUINDREL_BINARY_DIR", WIZARD_TEST_BINARY_DIR, 0);
    setenv("PELMORA_PROGRAM_DIR", WIZARD_TEST_PROGRAM_DIR, 0);
#endif
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
