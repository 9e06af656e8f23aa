#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>

// The generated test media and their oracle tables.
namespace corpus {

QString dir();
QString path(const QString& name);
// The video clips with an oracle table, in the order tests walk them.
QStringList clips();

struct OracleFrame
{
    int size = 0;
    QByteArray md5;
    qint64 timeMs = 0; // display time after the first frame's, in the stream's time base
    bool key = false;  // ffprobe's key_frame
};
// Per frame, as ffmpeg's decoder outputs them: the picture's size and MD5, its time and
// whether it is a key frame.
QVector<OracleFrame> oracle(const QString& clip);

// Short clips of many picture sizes and pixel formats, each with ffmpeg's own 24-bit BMP
// of one frame (made by tests/media/make_sizes.sh).
struct PictureCase
{
    QString clip;      // full path
    int frame = 0;     // display-order frame number
    QString reference; // full path of ffmpeg's BMP of that frame
    QString what;      // size and format, for messages
};
QVector<PictureCase> pictureCases();
// Adds one data row per picture case, in a column "c" (a failing row when none were made).
void addPictureCaseRows();
// The pixel rows of a 24-bit BMP file (bottom row first, padded as stored); empty when the
// file is not one.
QByteArray bmpPixels(const QByteArray& file);

} // namespace corpus

Q_DECLARE_METATYPE(corpus::PictureCase)
