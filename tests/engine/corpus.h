#pragma once

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
};
// Per-frame sizes and MD5s of the picture, as ffmpeg's decoder outputs them.
QVector<OracleFrame> oracle(const QString& clip);

} // namespace corpus
