#include "frmabout.h"

#include "clickablelabel.h"
#include "desktop.h"
#include "links.h"
#include "twipslayout.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

namespace framix {

namespace {

constexpr double kInnerHeight = 3660;
constexpr double kLinkTop = 3180;

} // namespace

frmAbout* frmAbout::open(QWidget* mainWindow)
{
    if (mainWindow != nullptr)
        mainWindow->setEnabled(false);
    auto* window = new frmAbout(mainWindow);
    window->Form_Load();
    window->show();
    return window;
}

frmAbout::frmAbout(QWidget* mainWindow) : QWidget(nullptr, Qt::Dialog), m_main(mainWindow)
{
    // Shown without an owner: a child window would be disabled along with the main window.
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("About Framix"));

    // The labels take no clicks of their own: a click on any of them reaches the window,
    // which closes, as a click on its background does.
    Image1 = new QLabel(this);
    placeTwips(Image1, 240, 240, 1200, 1200);
    Image1->setPixmap(QPixmap(QString::fromLatin1(kProgramPicture))
                          .scaled(Image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));

    Label1 = new QLabel(QStringLiteral("Version: 1.11"), this);
    QFont versionFont = Label1->font();
    versionFont.setBold(true);
    versionFont.setPointSizeF(versionFont.pointSizeF() * 1.3);
    Label1->setFont(versionFont);
    placeTwips(Label1, 1680, 300, 3960, 420);

    Label2 = new QLabel(QStringLiteral("Framix saves any frame of a video as a picture, exactly as "
                                       "the decoder made it."),
                        this);
    Label2->setWordWrap(true);
    placeTwips(Label2, 1680, 780, 3960, 660);

    Shape1 = new QFrame(this);
    Shape1->setFrameShape(QFrame::Box);
    Shape1->setAttribute(Qt::WA_TransparentForMouseEvents);
    placeTwips(Shape1, 240, 1620, 5415, 1380);

    lblDisclaimer = new QLabel(
        QStringLiteral("Warning: this program is protected by copyright. Copying or passing it on, "
                       "in whole or in part, without the permission of its authors is not "
                       "allowed. Pictures saved from a video belong to the owner of that video."),
        this);
    lblDisclaimer->setWordWrap(true);
    placeTwips(lblDisclaimer, 360, 1710, 5175, 1200);

    Label3 = new ClickableLabel(QStringLiteral("Visit Framix Home Page!"), this);
    styleAsLink(Label3);
    QFont linkFont(QStringLiteral("Courier New"));
    linkFont.setStyleHint(QFont::TypeWriter);
    linkFont.setPixelSize(twips::toPixels(195));
    Label3->setFont(linkFont);
    Label3->setToolTip(QString::fromLatin1(kHomePageUrl));
    setLabel3Left(kLinkStart);
    connect(Label3, &ClickableLabel::clicked, this, &frmAbout::Label3_Click);

    Timer1 = new QTimer(this);
    Timer1->setInterval(kTickMs);
    connect(Timer1, &QTimer::timeout, this, &frmAbout::Timer1_Timer);

    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);
    setFixedSize(twips::toPixels(kInnerWidth), twips::toPixels(kInnerHeight));
}

void frmAbout::Form_Load()
{
    if (m_main != nullptr)
        m_main->setEnabled(false);
    Timer1->start();
}

void frmAbout::Timer1_Timer()
{
    // Once the link has left on the left, it enters again from the right edge.
    if (m_label3Left <= -m_label3Width)
        setLabel3Left(widthTwips());
    else
        setLabel3Left(m_label3Left - kLinkStep);
}

void frmAbout::Label3_Click()
{
    // A desktop without a browser opens nothing; the window closes all the same, silently.
    Desktop::instance().openUrl(QUrl(QString::fromLatin1(kHomePageUrl)));
    close();
}

double frmAbout::widthTwips() const
{
    return twips::fromPixels(frameGeometry().width());
}

void frmAbout::setLabel3Left(double twipsLeft)
{
    m_label3Left = twipsLeft;
    placeTwips(Label3, m_label3Left, kLinkTop, m_label3Width, 300);
}

void frmAbout::Form_Click()
{
    close();
}

void frmAbout::mousePressEvent(QMouseEvent* event)
{
    // Taken here so that the release, which is the click, comes here too.
    event->accept();
}

void frmAbout::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Form_Click();
}

void frmAbout::closeEvent(QCloseEvent* event)
{
    Timer1->stop();
    if (m_main != nullptr)
        m_main->setEnabled(true);
    QWidget::closeEvent(event);
}

} // namespace framix
