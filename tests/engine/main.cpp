#include "testrunner.h"

#include <QCoreApplication>

QObject* makeFrameAccessTest();
QObject* makeIndexCacheTest();
QObject* makeBadInputTest();
QObject* makePictureTest();
QObject* makeAudioTest();
QObject* makeFrameServerTest();
QObject* makeFastIndexTest();
QObject* makeTonemapTest();
QObject* makeRealMediaTest();
QObject* makeStreamsTest();
QObject* makeDeinterlaceTest();
QObject* makeMemoryTest();

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return runTestClasses(argc, argv,
                          {makeFrameAccessTest(), makeIndexCacheTest(), makeBadInputTest(),
                           makePictureTest(), makeAudioTest(), makeFrameServerTest(),
                           makeFastIndexTest(), makeTonemapTest(), makeRealMediaTest(),
                           makeStreamsTest(), makeDeinterlaceTest(), makeMemoryTest()});
}
