#pragma once
// A Desktop that shows no window, installed while it lives: file dialogs take their answers
// from a list ("" or none left is Cancel) and are recorded with whether their owner was
// enabled, messages, questions and web pages are recorded (a question takes the next of
// `replies`, or the reject answer when none is left), and the tick clock moves a second per
// reading (every dialog was on screen) unless ticks are scripted.

#include "desktop.h"

#include <QList>
#include <QWidget>

class FakeDesktop : public framix::Desktop
{
public:
    QStringList answers;
    QList<FileRequest> dialogs;
    QList<bool> ownerEnabled;
    QStringList messages;
    QList<QUrl> urls;
    bool urlsOpen = true;
    QList<quint32> ticks;

    FakeDesktop() { setInstance(this); }
    ~FakeDesktop() override { setInstance(nullptr); }
    bool fileDialog(const FileRequest& request, QString* path) override
    {
        dialogs.append(request);
        ownerEnabled.append(request.owner == nullptr || request.owner->isEnabled());
        const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
        // A cancelled dialog leaves a path behind too, which the caller must ignore.
        *path = answer.isEmpty() ? QStringLiteral("/cancelled.mpg") : answer;
        return !answer.isEmpty();
    }
    void message(QWidget*, const QString& text, const QString&, Icon) override { messages << text; }
    QStringList questions;
    QList<bool> replies;
    bool confirm(QWidget*, const QString& text, const QString&, const QString&,
                 const QString&) override
    {
        questions << text;
        return !replies.isEmpty() && replies.takeFirst();
    }
    // Text asked for: the next of `typed`, or Cancel when none is left.
    QStringList typed;
    bool askText(QWidget*, const QString&, const QString&, QString* text) override
    {
        if (typed.isEmpty())
            return false;
        *text = typed.takeFirst();
        return true;
    }
    bool openUrl(const QUrl& url) override
    {
        urls.append(url);
        return urlsOpen;
    }
    quint32 tickCount() override
    {
        return m_clock = ticks.isEmpty() ? m_clock + 1000 : ticks.takeFirst();
    }

private:
    quint32 m_clock = 0;
};
