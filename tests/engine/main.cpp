#include "testrunner.h"

#include <QCoreApplication>

#include <memory>

QObject* makeFrameAccessTest();
QObject* makeIndexCacheTest();
QObject* makeBadInputTest();
QObject* makePictureTest();
QObject* makeAudioTest();
QObject* makeFrameServerTest();
QObject* makeFastIndexTest();

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::unique_ptr<QObject> access(makeFrameAccessTest()), cache(makeIndexCacheTest()),
        bad(makeBadInputTest()), pictures(makePictureTest()), audio(makeAudioTest()),
        server(makeFrameServerTest()), fast(makeFastIndexTest());
    return runTestClasses(argc, argv,
                          {access.get(), cache.get(), bad.get(), pictures.get(), audio.get(),
                           server.get(), fast.get()});
}
