#include "TestSupport.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int failures = 0;
    failures += runBasicsTests(argc, argv);
    failures += runSettingsTests(argc, argv);
    failures += runIdentityTests(argc, argv);
    failures += runVersionTests(argc, argv);
    return failures == 0 ? 0 : 1;
}
