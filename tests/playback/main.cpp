#include "testrunner.h"

#include <QApplication>

QObject* makePlayerTest();
QObject* makeVideoWindowTest();

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    return runTestClasses(argc, argv, {makePlayerTest(), makeVideoWindowTest()});
}
