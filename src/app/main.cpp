#include "common/VersionInfo.h"
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream(stdout) << "quvo-hwclient " << quvo::buildProductVersion() << "\n";
    return 1;
}
