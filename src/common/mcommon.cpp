#include "mcommon.h"

#include "desktop.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QSlider>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>

namespace framix {

namespace {

// A dialog that returns faster than this never reached the screen; this happens when the
// initial name is one the dialog refuses. It is then shown again without the name.
constexpr quint32 kDialogMinimumMs = 20;

// 1-based position of the last "/", 0 when there is none.
qsizetype lastSlashPosition(const QString& path)
{
    return path.lastIndexOf(QLatin1Char('/')) + 1;
}

// Turns one field of ";"-separated patterns into Qt's space-separated form. "*.*" means every
// file in bar notation, but to Qt it means only names containing a dot, so it becomes "*".
QString qtPatterns(const QString& field)
{
    QStringList patterns;
    for (const QString& part : field.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString pattern = part.trimmed();
        if (pattern.isEmpty())
            continue;
        patterns.append(pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    }
    return patterns.join(QLatin1Char(' '));
}

} // namespace

QStringList qtNameFilters(const QString& barFilter)
{
    // Each description is kept as the program words it ("All Files (*.*)"), and the
    // patterns Qt filters with follow it in a list of their own, which the dialog keeps out
    // of sight (Qt takes the patterns from a filter's last parenthesised list).
    QStringList filters;
    const QStringList fields = barFilter.split(QLatin1Char('|'));
    // Fields come in pairs; the text after the final "|" is empty and a description without
    // its pattern field is dropped.
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        const QString description = fields.at(i).trimmed();
        const QString patterns = qtPatterns(fields.at(i + 1));
        if (patterns.isEmpty())
            continue;
        filters.append(description.isEmpty()
                           ? patterns
                           : description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return filters;
}

QString FileDialog(QWidget* owner, bool saveMode, const QString& title, const QString& filter,
                   const QString& initialName, const QString& defaultExt, const QString& initialDir)
{
    Desktop& desktop = Desktop::instance();
    if (initialName.size() > kMaxFileDialogName) {
        desktop.message(owner, QStringLiteral("Filename Length Overflow"),
                        QStringLiteral("Framix - FileDialog Function"), Desktop::Icon::Exclamation);
        return QString();
    }

    if (owner != nullptr)
        owner->setEnabled(false);

    Desktop::FileRequest request;
    request.owner = owner;
    request.saveMode = saveMode;
    request.title = title;
    request.nameFilters = qtNameFilters(filter);
    request.initialName = initialName;
    request.defaultExt = defaultExt;
    request.initialDir = initialDir;

    QString chosen;
    const quint32 t0 = desktop.tickCount();
    bool ok = desktop.fileDialog(request, &chosen);
    const quint32 t1 = desktop.tickCount();
    // Unsigned subtraction keeps the elapsed time right across the counter's wrap-around.
    if (static_cast<quint32>(t1 - t0) < kDialogMinimumMs) {
        request.initialName.clear();
        chosen.clear();
        ok = desktop.fileDialog(request, &chosen);
    }

    QString result;
    if (ok) {
        const qsizetype nul = chosen.indexOf(QChar(u'\0'));
        result = nul >= 0 ? chosen.left(nul) : chosen;
    }

    if (owner != nullptr)
        owner->setEnabled(true);
    return result;
}

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return !S_ISDIR(info.st_mode);
}

bool DirExists(const QString& path)
{
    QString dir = path;
    AddBackslash(dir);
    if (dir.isEmpty())
        return false;
    // The final "/" makes stat() refuse anything that is not a directory (or a link to one).
    struct stat info;
    if (::stat(QFile::encodeName(dir).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode);
}

QString SplitPath(const QString& path, bool wantFolder)
{
    const qsizetype p = lastSlashPosition(path);
    return wantFolder ? path.left(p) : path.right(path.size() - p);
}

void AddBackslash(QString& path)
{
    if (lastSlashPosition(path) != path.size())
        path.append(QLatin1Char('/'));
}

bool CreatePath(const QString& path)
{
    QString full = path;
    AddBackslash(full);

    int error = 0;
    qsizetype p = 0;
    for (;;) {
        const qsizetype slash = full.indexOf(QLatin1Char('/'), p);
        if (slash < 0)
            break;
        p = slash + 1;
        const QString level = full.left(p - 1);
        // An absolute path starts with "/", so its first level is empty. That level is the
        // root directory, which always exists; mkdir("") would fail and make every absolute
        // path unusable.
        const bool isRoot = level.isEmpty() && p == 1;
        if (!isRoot && !DirExists(level)) {
            // One level at a time, so that a failure names the level that could not be made.
            if (::mkdir(QFile::encodeName(level).constData(), 0777) != 0) {
                error = errno;
                break;
            }
        }
        if (p == full.size())
            break;
    }

    if (error == 0 && DirExists(full))
        return true;

    QString text;
    if (error != 0) {
        text += QStringLiteral("Error ") + QString::number(error) + QStringLiteral(": ") +
                QString::fromLocal8Bit(std::strerror(error)) + QStringLiteral("\r\n");
    }
    text +=
        QStringLiteral("Could Not Create/Access Directory:\r\n\r\n\"") + full + QLatin1Char('"');
    Desktop::instance().message(nullptr, text, QStringLiteral("Framix - CreatePath Function"),
                                Desktop::Icon::Exclamation);
    return false;
}

QString ExpandHome(const QString& path)
{
    if (path == QLatin1String("~"))
        return QDir::homePath();
    if (path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

void ShowFailure(QLabel* label, const QString& what, const QString& why)
{
    qWarning().noquote() << what + QStringLiteral(": ") + why;
    label->setText(what);
    label->setToolTip(why);
}

QString TimeText(qint64 ms)
{
    ms = std::max<qint64>(0, ms);
    const qint64 s = ms / 1000;
    const QString tail = QStringLiteral("%1.%2")
                             .arg(s % 60, 2, 10, QLatin1Char('0'))
                             .arg(ms % 1000, 3, 10, QLatin1Char('0'));
    if (s >= 3600)
        return QStringLiteral("%1:%2:").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')) +
               tail;
    return QStringLiteral("%1:").arg(s / 60) + tail;
}

namespace {

class JumpClickStyle final : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons)
            return int(Qt::LeftButton | Qt::MiddleButton);
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void JumpToClicks(QSlider* slider)
{
    // A widget does not own its style: the slider's own child goes with it.
    auto* style = new JumpClickStyle;
    style->setParent(slider);
    slider->setStyle(style);
}

void SetFittedText(QLabel* label, const QString& text)
{
    const QWidget* owner = label->parentWidget();
    QFont font = owner ? owner->font() : label->font();
    const int room = label->contentsRect().width();
    while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(text) > room)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    if (font != label->font())
        label->setFont(font);
    label->setText(text);
}

} // namespace framix
