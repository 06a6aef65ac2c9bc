#include <QCoreApplication>
#include <gtest/gtest.h>

// Every test program shares one Qt application object, so tests can run event loops.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
