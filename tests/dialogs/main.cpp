#include "testrunner.h"

#include <QApplication>

#include <memory>

QObject* makeInfoTest();
QObject* makeTipTest();
QObject* makeAboutTest();

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const std::unique_ptr<QObject> info(makeInfoTest()), tip(makeTipTest()), about(makeAboutTest());
    return runTestClasses(argc, argv, {info.get(), tip.get(), about.get()});
}
