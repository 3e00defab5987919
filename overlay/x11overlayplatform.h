#pragma once

#include "overlayplatform.h"

// Plain X11: without a compositing manager an ARGB window shows its transparent pixels as black,
// so the overlay is shaped to its comments there.
class X11OverlayPlatform final : public OverlayPlatform
{
public:
    // Null unless the application runs on X11.
    static std::unique_ptr<OverlayPlatform> create();

    bool needsShape() const override { return !m_compositor; }
    QString modeDescription() const override;
    // Unmanaged: a window manager's frame around the overlay would not pass clicks through, as the
    // frame does not take over the window's empty input shape.
    Qt::WindowFlags windowFlags() const override { return Qt::X11BypassWindowManagerHint; }

private:
    explicit X11OverlayPlatform(bool compositor)
        : m_compositor(compositor)
    {}
    bool m_compositor;
};
