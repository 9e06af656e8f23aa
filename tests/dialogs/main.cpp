#include <QApplication>
#include <QTest>

#include <memory>
#include <vector>

QObject* makeInfoTest();
QObject* makeTipTest();
QObject* makeAboutTest();

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::vector<std::unique_ptr<QObject>> tests;
    tests.emplace_back(makeInfoTest());
    tests.emplace_back(makeTipTest());
    tests.emplace_back(makeAboutTest());
    // "tst_dialogs ClassName [options]" runs one test class.
    QString only;
    if (argc > 1 && argv[1][0] != '-') {
        only = QString::fromLocal8Bit(argv[1]);
        for (int i = 1; i + 1 < argc; ++i)
            argv[i] = argv[i + 1];
        --argc;
    }
    int failed = 0;
    for (auto& t : tests)
        if (only.isEmpty() || only == QLatin1String(t->metaObject()->className()))
            failed += QTest::qExec(t.get(), argc, argv);
    return failed ? 1 : 0;
}
