#include "testrunner.h"

#include <QApplication>

#include <memory>

QObject* makePlayerTest();
QObject* makeVideoWindowTest();

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const std::unique_ptr<QObject> player(makePlayerTest()), video(makeVideoWindowTest());
    return runTestClasses(argc, argv, {player.get(), video.get()});
}
