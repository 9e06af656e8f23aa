#pragma once
// A Desktop that shows no window, installed while it lives: file dialogs take their answers
// from a list and are recorded with whether their owner was disabled, messages and web
// pages are recorded, and the tick clock is scripted.

#include "desktop.h"

#include <QList>
#include <QWidget>

class FakeDesktop : public framix::Desktop
{
public:
    struct Dialog
    {
        FileRequest request;
        bool ownerEnabled;
    };
    struct Message
    {
        QString text, title;
        Icon icon;
    };
    QStringList answers; // one per dialog, first first; "" (or none left) is Cancel
    QList<Dialog> dialogs;
    QList<Message> messages;
    QList<QUrl> urls;
    bool urlsOpen = true; // false: as on a desktop without a browser
    QList<quint32> ticks; // then a second per reading, so that every dialog was on screen

    FakeDesktop() { setInstance(this); }
    ~FakeDesktop() override { setInstance(nullptr); }

    bool fileDialog(const FileRequest& request, QString* path) override
    {
        dialogs.append({request, request.owner == nullptr || request.owner->isEnabled()});
        const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
        // A cancelled dialog leaves a path behind too, which the caller must ignore.
        *path = answer.isEmpty() ? QStringLiteral("/cancelled.mpg") : answer;
        return !answer.isEmpty();
    }
    void message(QWidget*, const QString& text, const QString& title, Icon icon) override
    {
        messages.append({text, title, icon});
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
