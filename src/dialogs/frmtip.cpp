#include "frmtip.h"

#include "settings.h"
#include "twipslayout.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLoggingCategory>
#include <QPushButton>
#include <QShortcut>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace framix {

Q_LOGGING_CATEGORY(lcDialogs, "framix.dialogs", QtWarningMsg)

const QString frmTip::kMissingFileText =
    QStringLiteral("Could not find the file TIPOFDAY.txt. The file may be deleted or removed. "
                   "Try to reinstall the program...");

frmTip* frmTip::open(QWidget* mainWindow, QWidget* videoWindow)
{
    auto* window = new frmTip(mainWindow, videoWindow);
    window->Form_Load();
    // Closed by its own load: it is already scheduled for deletion.
    if (window->m_closed)
        return nullptr;
    // Raised over every window of the program (the video window a file opened may be over
    // the others), and known to the window manager as the main window's, which gets the
    // keyboard back when it closes.
    QWidget* front = mainWindow != nullptr && mainWindow->isVisible() ? mainWindow : videoWindow;
    if (front != nullptr && front->isVisible()) {
        window->create();
        front->winId(); // makes its native window, which the hint names
        window->windowHandle()->setTransientParent(front->windowHandle());
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

QString frmTip::tipFilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/TIPOFDAY.TXT");
}

QStringList frmTip::splitTips(const QByteArray& data)
{
    QByteArray text = data;
    // Editors on other systems often start a UTF-8 file with a byte order mark; it is not
    // part of the first tip.
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    QStringList tips;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\r' && c != '\n')
            continue;
        tips.append(QString::fromLocal8Bit(text.mid(start, i - start)));
        if (c == '\r' && i + 1 < text.size() && text.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    // The last line needs no line end; a line end at the very end starts no new tip.
    if (start < text.size())
        tips.append(QString::fromLocal8Bit(text.mid(start)));
    return tips;
}

frmTip::frmTip(QWidget* mainWindow, QWidget* videoWindow)
    : QWidget(nullptr, Qt::Dialog), m_main(mainWindow), m_video(videoWindow)
{
    // Shown without an owner: a child window would be disabled along with the main window.
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Tip of the Day"));

    // The tip sits on a white card under its heading, the buttons to the right of it.
    auto* Picture1 = new QFrame(this);
    Picture1->setFrameShape(QFrame::StyledPanel);
    Picture1->setFrameShadow(QFrame::Sunken);
    Picture1->setAutoFillBackground(true);
    QPalette card = Picture1->palette();
    card.setColor(QPalette::Window, Qt::white);
    card.setColor(QPalette::WindowText, Qt::black);
    Picture1->setPalette(card);
    placeTwips(Picture1, 120, 120, 4560, 2700);

    auto* heading = new QLabel(QStringLiteral("Did you know..."), Picture1);
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.4);
    heading->setFont(headingFont);
    placeTwips(heading, 180, 120, 4200, 450);

    lblTipText = new QLabel(Picture1);
    lblTipText->setTextFormat(Qt::PlainText);
    lblTipText->setWordWrap(true);
    lblTipText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(lblTipText, 180, 660, 4200, 1920);

    cmdOK = new QPushButton(QStringLiteral("&OK"), this);
    cmdNextTip = new QPushButton(QStringLiteral("&Next Tip"), this);
    placeTwips(cmdOK, 4800, 120, 1320, 405);
    placeTwips(cmdNextTip, 4800, 600, 1320, 405);
    chkLoadTipsAtStartup = new QCheckBox(QStringLiteral("&Show Tips at Startup"), this);
    placeTwips(chkLoadTipsAtStartup, 120, 2940, 4560, 330);

    // Enter presses OK, which has the focus when the window comes up.
    cmdOK->setAutoDefault(true);
    cmdNextTip->setAutoDefault(true);
    cmdOK->setFocus();
    connect(cmdOK, &QPushButton::clicked, this, &QWidget::close);
    connect(cmdNextTip, &QPushButton::clicked, this, &frmTip::ShowRandomTip);
    // clicked, not toggled: the load sets the box without storing anything.
    connect(chkLoadTipsAtStartup, &QCheckBox::clicked, this, &frmTip::chkLoadTipsAtStartup_Click);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);

    setFixedSize(twips::toPixels(6240), twips::toPixels(3390));
}

void frmTip::Form_Load()
{
    if (m_main != nullptr) {
        m_main->setEnabled(false);
        m_main->show();
    }
    if (Settings::showTipsAtStartup() == 0) {
        close();
        return;
    }
    chkLoadTipsAtStartup->setChecked(true);
    m_random.seed(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()));
    if (!LoadTips(tipFilePath())) {
        qCInfo(lcDialogs) << "tip file not found:" << tipFilePath();
        lblTipText->setText(kMissingFileText);
    }
}

bool frmTip::LoadTips(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.isFile() || info.isHidden())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    m_tips.append(splitTips(file.readAll()));
    ShowRandomTip();
    return true;
}

void frmTip::ShowRandomTip()
{
    const double r = m_random.generateDouble();
    const auto n = static_cast<int>(m_tips.size());
    m_currentTip = static_cast<int>(std::floor(r * n + 1));
    // r < 1, so this is at most n; the bound only guards against rounding in r * n.
    m_currentTip = std::clamp(m_currentTip, 1, std::max(n, 1));
    DisplayCurrentTip();
}

void frmTip::DisplayCurrentTip()
{
    if (m_tips.isEmpty())
        return;
    lblTipText->setText(m_tips.at(m_currentTip - 1));
    // The installed program's start-up test reads which tip came up.
    qCInfo(lcDialogs) << "tip" << m_currentTip << "of" << m_tips.size();
}

void frmTip::chkLoadTipsAtStartup_Click(bool checked)
{
    Settings::setShowTipsAtStartup(checked ? 1 : 0);
}

void frmTip::closeEvent(QCloseEvent* event)
{
    m_closed = true;
    if (m_main != nullptr)
        m_main->setEnabled(true);
    if (m_video != nullptr)
        m_video->setEnabled(true);
    QWidget::closeEvent(event);
}

} // namespace framix
