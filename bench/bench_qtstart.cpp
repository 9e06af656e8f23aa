// The start-up reference: an empty Qt Widgets window that prints the time of its first
// paint, in the same form as the program's own start-up log line.

#include <QApplication>
#include <QDateTime>
#include <QWidget>

#include <cstdio>

namespace {

class Window : public QWidget
{
protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!m_painted) {
            m_painted = true;
            std::fprintf(stderr, "main window shown at %lld\n",
                         static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
        }
    }

private:
    bool m_painted = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Window w;
    w.resize(374, 113);
    w.show();
    return app.exec();
}
