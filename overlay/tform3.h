#pragma once

// The overlay window: a borderless, click-through window over the work area of the primary
// screen on which chat messages fly from right to left as comments.

#include "commentfield.h"

#include <QFont>
#include <QHash>
#include <QImage>
#include <QRegion>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class OverlayPlatform;
class QTimer;

class TForm3 final : public QWidget
{
    Q_OBJECT
public:
    using SpeedSource = std::function<int()>;
    using LogSink = std::function<void(const QString &)>;

    // speed gives the main window's speed setting, read once per comment; log gets the mode line.
    TForm3(SpeedSource speed, LogSink log, QWidget *parent = nullptr);
    TForm3(SpeedSource speed, LogSink log, std::unique_ptr<OverlayPlatform> platform,
           QWidget *parent = nullptr);
    ~TForm3() override;

    // Sends one message text across the overlay, drawn exactly as written.
    void AddComment(const QString &text);
    // The lane the next comment would take.
    int FreeLane() const;
    // One step of every comment; runs every 10 ms while there are comments.
    void Timer1Timer();

    const CommentField &comments() const { return m_field; }
    QFont commentFont() const { return m_font; }
    bool isShaped() const { return m_shaped; }
    // What the last tick asked to repaint.
    QRegion lastRepaint() const { return m_lastRepaint; }
    // How many comment pictures are held (made only once a comment comes into view).
    qsizetype pictureCount() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Picture
    {
        QString text; // kept until the picture is made
        QImage image;
    };
    const QImage &pictureOf(const Comment &comment);
    void placeOnPrimaryScreen();

    SpeedSource m_speed;
    std::unique_ptr<OverlayPlatform> m_platform;
    bool m_shaped = false;
    QFont m_font;
    CommentField m_field;
    QHash<quint64, Picture> m_pictures;
    std::vector<std::pair<QRect, const QImage *>> m_visible; // reused by every paint
    QRegion m_lastRepaint;
    QTimer *Timer1;
};
