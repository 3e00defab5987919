#pragma once

// The pieces of a desktop that end-to-end tests need on the private X display: a window
// manager, optionally a compositor and a tray host. Each is started on demand and stopped when
// the object goes, so tests do not leak them into each other.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class TestDesktop final
{
public:
    TestDesktop() = default;
    ~TestDesktop();
    TestDesktop(const TestDesktop &) = delete;
    TestDesktop &operator=(const TestDesktop &) = delete;

    bool startWindowManager(); // openbox
    bool startCompositor();    // picom --backend xrender
    bool startTray();          // trayer
    void stopCompositor();

    // Whether an X selection owner exists, e.g. "_NET_WM_CM_S0" or "_NET_SYSTEM_TRAY_S0".
    static bool selectionOwned(const QString &atom);
    // Saves a PNG of the whole screen (or of one window id) under artifacts/; returns its path.
    static QString screenshot(const QString &name, const QString &windowId = {});

private:
    bool start(const QString &program, const QStringList &arguments, const QString &readySelection);
    std::vector<std::unique_ptr<QProcess>> m_processes;
    QProcess *m_compositor = nullptr;
};
