#pragma once

// What the overlay needs to know about the windowing system it runs on. The default does nothing
// special: the window's transparent pixels are blended by the system, so nothing needs shaping.

#include <QString>
#include <Qt>

#include <memory>

class OverlayPlatform
{
public:
    virtual ~OverlayPlatform() = default;

    // True when nothing blends the window's transparent pixels, so the window must be shaped to
    // what it shows or it would cover the desktop.
    virtual bool needsShape() const { return false; }
    // Window flags the overlay needs here beyond its own.
    virtual Qt::WindowFlags windowFlags() const { return {}; }
    // One log line saying how the overlay shows the desktop through itself.
    virtual QString modeDescription() const;

    // The platform of the running application; the one place where the choice is made.
    static std::unique_ptr<OverlayPlatform> create();
};
