#pragma once

// What differs between desktops for the main window: whether a notification area exists and
// whether a program may place its own windows. Chosen once, at start, for the platform running.

#include <QPoint>
#include <QString>

#include <memory>

class DesktopPlatform
{
public:
    virtual ~DesktopPlatform() = default;

    // The platform in use, chosen from the running Qt platform plugin.
    static std::unique_ptr<DesktopPlatform> forRunningPlatform();

    // Whether a notification area can show the tray icon right now.
    virtual bool trayAvailable() const;
    // Whether the program may place its windows itself (not so on Wayland).
    virtual bool canPlaceWindows() const { return true; }
    // Whether a window stays where it is put beyond every screen.
    virtual bool keepsWindowsOffScreen() const { return canPlaceWindows(); }
    // That place.
    QPoint offscreenPoint() const { return {200000, 200000}; }

    // Hiding moves the window out of sight only where it stays there and a tray icon can bring it
    // back; otherwise the window is unmapped, which the tray icon, once there is one, undoes.
    bool hidesByMoving() const { return keepsWindowsOffScreen() && trayAvailable(); }
};

// Run before the application object exists: on Wayland, prefer XWayland when it is there, since
// only there can the program place its windows.
void preferXcbOnWayland();
