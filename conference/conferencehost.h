#pragma once

// What the conference logic needs from the main window, so that the logic runs and is tested
// without widgets.

#include <QString>
#include <QStringList>

class TSkype;

class ConferenceHost
{
public:
    virtual ~ConferenceHost() = default;

    // The current connection, or null when none could be made.
    virtual TSkype *skype() const = 0;
    // Changes with every restart of the connection, so a wait can tell that its objects are stale.
    virtual quint64 connectionGeneration() const = 0;
    // True once the program has been asked to close: waits end at once.
    virtual bool closing() const = 0;

    virtual void Log(const QString &text) = 0;
    virtual void showActiveCalls(const QStringList &lines) = 0;

    virtual bool remoteJoinAllowed() const = 0;   // "use remote_join" ticked
    virtual bool remoteRebootAllowed() const = 0; // "Use Remote_Reboot" ticked
    virtual bool overlayMode() const = 0;         // "Lumotalk" ticked and the overlay open
    virtual void addComment(const QString &text) = 0;
    virtual void armRestartTimer() = 0; // enables the one-shot restart timer
    virtual void setStayOnTop(bool on) = 0;
};
