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
    // A place beyond every screen that the window system can still represent.
    virtual QPoint offscreenPoint() const { return {200000, 200000}; }

    // Hiding moves the window out of sight only where a tray icon can bring it back and the window
    // can be placed; otherwise it is unmapped.
    bool hidesByMoving() const { return canPlaceWindows() && trayAvailable(); }
};

// Run before the application object exists: on Wayland, prefer XWayland when it is there, since
// only there can the program place its windows.
void preferXcbOnWayland();
