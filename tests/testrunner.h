#pragma once
// Runs several Qt Test classes from one executable, then deletes them. "tst_x ClassName
// [options]" runs only that class; options go to Qt Test as usual.

#include <QObject>
#include <QTest>

#include <initializer_list>

inline int runTestClasses(int argc, char** argv, std::initializer_list<QObject*> tests)
{
    QString only;
    if (argc > 1 && argv[1][0] != '-') {
        only = QString::fromLocal8Bit(argv[1]);
        for (int i = 1; i + 1 < argc; ++i)
            argv[i] = argv[i + 1];
        --argc;
    }
    int failed = 0;
    for (QObject* test : tests)
        if (only.isEmpty() || only == QLatin1String(test->metaObject()->className()))
            failed += QTest::qExec(test, argc, argv);
    qDeleteAll(tests);
    return failed != 0 ? 1 : 0;
}
