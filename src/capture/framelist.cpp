#include "framelist.h"

#include <QString>

#include <algorithm>

namespace framix {

namespace {

QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// Seconds with exactly three decimals, from milliseconds.
QString secondsText(qint64 ms)
{
    const bool negative = ms < 0;
    const qint64 a = negative ? -ms : ms;
    return QStringLiteral("%1%2.%3")
        .arg(negative ? QStringLiteral("-") : QString())
        .arg(a / 1000)
        .arg(a % 1000, 3, 10, QLatin1Char('0'));
}

} // namespace

QByteArray frameListCsv(const std::vector<FrameListEntry>& entries)
{
    QByteArray csv = "frame,time,pts,keyframe,type,file\n";
    for (const FrameListEntry& e : entries) {
        csv += QStringLiteral("%1,%2,%3,%4,%5,%6\n")
                   .arg(e.frame)
                   .arg(secondsText(e.timeMs),
                        e.pts == FrameIndex::kNoTimestamp ? QString() : QString::number(e.pts),
                        e.key ? QStringLiteral("1") : QStringLiteral("0"),
                        QString(QLatin1Char(e.type)), csvField(e.file))
                   .toUtf8();
    }
    return csv;
}

QByteArray frameListCsv(const std::vector<FrameListEntry>& entries, std::vector<int> written)
{
    std::sort(written.begin(), written.end());
    std::vector<FrameListEntry> listed;
    listed.reserve(written.size());
    for (const int place : written)
        listed.push_back(entries[size_t(place)]);
    return frameListCsv(listed);
}

} // namespace framix
