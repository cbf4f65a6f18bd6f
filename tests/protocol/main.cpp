// One executable for the protocol layer; runs every test class in turn.
#include <QCoreApplication>
#include <QtTest>

#include <memory>
#include <vector>

QObject* createFieldTests();
QObject* createMessageTests();
QObject* createStreamReaderTests();

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<std::unique_ptr<QObject>> suites;
    suites.emplace_back(createFieldTests());
    suites.emplace_back(createMessageTests());
    suites.emplace_back(createStreamReaderTests());
    // "protocol_tests StreamReaderTests [QtTest options]" runs one class only.
    QByteArray only;
    if (argc > 1 && argv[1][0] != '-') {
        only = argv[1];
        argv[1] = argv[0];
        ++argv;
        --argc;
    }
    int failures = 0;
    for (auto& suite : suites) {
        if (only.isEmpty() || only == suite->metaObject()->className())
            failures += QTest::qExec(suite.get(), argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
