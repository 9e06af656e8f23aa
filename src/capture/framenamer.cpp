#include "framenamer.h"

#include <QRegularExpression>

namespace framix {

std::optional<FrameNamer> FrameNamer::parse(const QString& pattern, QString* why)
{
    const auto refuse = [&](const QString& reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (pattern.isEmpty())
        return refuse(QStringLiteral("the name template is empty"));
    if (pattern.contains(QChar(0)))
        return refuse(QStringLiteral("the name template contains a NUL character, which no file "
                                     "name can hold"));
    if (pattern.contains(QLatin1Char('/')))
        return refuse(QStringLiteral("the name template '%1' contains a '/': it names files, "
                                     "not folders (use --out for the folder)")
                          .arg(pattern));
    FrameNamer namer;
    QString text;
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('}'))
            return refuse(
                QStringLiteral("the name template '%1' has a '}' without its '{'").arg(pattern));
        if (c != QLatin1Char('{')) {
            text += c;
            ++i;
            continue;
        }
        const qsizetype end = pattern.indexOf(QLatin1Char('}'), i);
        if (end < 0)
            return refuse(
                QStringLiteral("the name template '%1' has a '{' that is not closed").arg(pattern));
        const QString token = pattern.mid(i + 1, end - i - 1);
        Piece piece;
        if (token == QLatin1String("frame")) {
            piece.kind = Piece::Kind::Frame;
        } else if (token.startsWith(QLatin1String("frame:0"))) {
            bool ok = false;
            const int width = token.mid(7).toInt(&ok);
            if (!ok || width < 1 || width > 9 || token.size() != 8)
                return refuse(QStringLiteral("{%1} in the name template: the padding is written "
                                             "{frame:0N} with N from 1 to 9, e.g. {frame:06}")
                                  .arg(token));
            piece.kind = Piece::Kind::Frame;
            piece.width = width;
        } else if (token == QLatin1String("name")) {
            piece.kind = Piece::Kind::Name;
        } else if (token == QLatin1String("time")) {
            piece.kind = Piece::Kind::Time;
        } else {
            return refuse(QStringLiteral("unknown token {%1} in the name template (known: "
                                         "{frame}, {frame:0N}, {name}, {time})")
                              .arg(token));
        }
        if (!text.isEmpty())
            namer.m_pieces.push_back(Piece{Piece::Kind::Text, text, 0});
        text.clear();
        namer.m_usesFrame |= piece.kind == Piece::Kind::Frame;
        namer.m_usesTime |= piece.kind == Piece::Kind::Time;
        namer.m_pieces.push_back(piece);
        i = end + 1;
    }
    if (!text.isEmpty())
        namer.m_pieces.push_back(Piece{Piece::Kind::Text, text, 0});
    if (!namer.m_usesFrame && !namer.m_usesTime)
        return refuse(QStringLiteral("the name template '%1' would give every frame the same "
                                     "name: put {frame} or {time} in it")
                          .arg(pattern));
    return namer;
}

QString FrameNamer::timeText(qint64 ms)
{
    const bool negative = ms < 0;
    if (negative)
        ms = -ms;
    const qint64 h = ms / 3600000, m = ms / 60000 % 60, s = ms / 1000 % 60, milli = ms % 1000;
    return QStringLiteral("%1%2-%3-%4.%5")
        .arg(negative ? QStringLiteral("-") : QString())
        .arg(h, 2, 10, QLatin1Char('0'))
        .arg(m, 2, 10, QLatin1Char('0'))
        .arg(s, 2, 10, QLatin1Char('0'))
        .arg(milli, 3, 10, QLatin1Char('0'));
}

namespace {

// Every character that is not a letter or digit as a code point escape: unambiguous whatever
// follows it (an escaped NUL before a digit would read as an octal number).
QString literally(const QString& text)
{
    QString out;
    for (const char32_t c : text.toUcs4()) {
        if ((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9'))
            out += QChar(char16_t(c));
        else
            out += QStringLiteral("\\x{%1}").arg(quint32(c), 0, 16);
    }
    return out;
}

} // namespace

bool FrameNamer::matches(const QString& fileName, const QString& videoName,
                         const QString& extension) const
{
    QString pattern;
    for (const Piece& p : m_pieces) {
        switch (p.kind) {
        case Piece::Kind::Text:
            pattern += literally(p.text);
            break;
        case Piece::Kind::Frame:
            pattern += QStringLiteral("[0-9]+");
            break;
        case Piece::Kind::Name:
            pattern += literally(videoName);
            break;
        case Piece::Kind::Time:
            pattern += QStringLiteral("-?[0-9]{2,}-[0-9]{2}-[0-9]{2}\\.[0-9]{3}");
            break;
        }
    }
    pattern += literally(extension);
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern))
        .match(fileName)
        .hasMatch();
}

QString FrameNamer::name(int number, qint64 timeMs, const QString& videoName) const
{
    QString out;
    for (const Piece& p : m_pieces) {
        switch (p.kind) {
        case Piece::Kind::Text:
            out += p.text;
            break;
        case Piece::Kind::Frame:
            out += QStringLiteral("%1").arg(number, p.width, 10, QLatin1Char('0'));
            break;
        case Piece::Kind::Name:
            out += videoName;
            break;
        case Piece::Kind::Time:
            out += timeText(timeMs);
            break;
        }
    }
    return out;
}

} // namespace framix
