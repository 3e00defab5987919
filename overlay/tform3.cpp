#include "tform3.h"

#include "commenttext.h"
#include "overlayplatform.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// A shape of nothing: an empty region would remove the shape and show the whole window.
const QRegion NothingShown(-1, -1, 1, 1);

QRect rectOf(const Comment &comment)
{
    return {comment.left, comment.top, comment.width, comment.height};
}

} // namespace

TForm3::TForm3(SpeedSource speed, LogSink log, QWidget *parent)
    : TForm3(std::move(speed), std::move(log), OverlayPlatform::create(), parent)
{}

TForm3::TForm3(SpeedSource speed, LogSink log, std::unique_ptr<OverlayPlatform> platform, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                          Qt::NoDropShadowWindowHint)
    , m_speed(std::move(speed))
    , m_platform(std::move(platform))
    , Timer1(new QTimer(this))
{
    setObjectName(u"Form3"_s);
    setWindowFlags(windowFlags() | m_platform->windowFlags());
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);

    m_font = QApplication::font();
    m_font.setPointSize(20);

    m_shaped = m_platform->needsShape();
    if (m_shaped)
        setMask(NothingShown);
    if (log)
        log(m_platform->modeDescription());

    Timer1->setObjectName(u"Timer1"_s);
    Timer1->setInterval(10);
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &TForm3::Timer1Timer);

    placeOnPrimaryScreen();
    if (QScreen *screen = QGuiApplication::primaryScreen())
        connect(screen, &QScreen::availableGeometryChanged, this, &TForm3::placeOnPrimaryScreen);
}

TForm3::~TForm3() = default;

void TForm3::placeOnPrimaryScreen()
{
    if (QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
}

int TForm3::FreeLane() const
{
    return m_field.freeLane(width());
}

void TForm3::AddComment(const QString &text)
{
    const CommentText layout(text, m_font);
    const int speed = m_speed ? m_speed() : 150;
    const Comment &comment = m_field.add(layout.size().width(), layout.size().height(), width(), speed);
    m_pictures.insert(comment.id, Picture{text, {}});
    if (!Timer1->isActive())
        Timer1->start();
}

void TForm3::Timer1Timer()
{
    const QRect bounds = rect();
    QRegion repaint;
    QRegion shape;
    m_field.tick(
        [&](const Comment &comment, int oldLeft) {
            const QRect now = rectOf(comment);
            const QRect swept(now.left(), now.top(), oldLeft - now.left() + now.width(), now.height());
            if (swept.intersects(bounds))
                repaint += swept & bounds;
            if (m_shaped && now.intersects(bounds))
                shape += now & bounds;
        },
        [&](const Comment &comment) {
            QRect before = rectOf(comment);
            before.moveLeft(comment.left + comment.pixelsPerTick);
            if (before.intersects(bounds))
                repaint += before & bounds;
            m_pictures.remove(comment.id);
        });
    if (m_shaped)
        setMask(shape.isEmpty() ? NothingShown : shape);
    m_lastRepaint = repaint;
    if (!repaint.isEmpty())
        update(repaint);
    if (m_field.isEmpty())
        Timer1->stop();
}

qsizetype TForm3::pictureCount() const
{
    qsizetype made = 0;
    for (const Picture &picture : m_pictures)
        made += picture.image.isNull() ? 0 : 1;
    return made;
}

const QImage &TForm3::pictureOf(const Comment &comment)
{
    Picture &picture = m_pictures[comment.id];
    if (picture.image.isNull()) {
        // Without blending, transparent pixels would show black, so the shaped window paints the
        // comment on the window colour instead.
        const QColor background = m_shaped ? palette().color(QPalette::Window) : QColor(Qt::transparent);
        picture.image = CommentText(picture.text, m_font)
                            .render(palette().color(QPalette::WindowText), background, devicePixelRatioF());
        picture.text.clear();
        picture.text.squeeze();
    }
    return picture.image;
}

void TForm3::paintEvent(QPaintEvent *event)
{
    const QRect area = event->region().boundingRect() & rect();
    m_visible.clear();
    for (const Comment &comment : m_field.comments()) {
        const QRect where = rectOf(comment);
        if (where.intersects(area))
            m_visible.push_back({where, &pictureOf(comment)});
    }
    // Rectangle by rectangle: drawing under a plain rectangle clip is far cheaper than under a
    // region of many rectangles.
    QPainter painter(this);
    for (const QRect &r : event->region()) {
        painter.setClipRect(r);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(r, Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        for (const auto &[where, image] : m_visible)
            if (where.intersects(r))
                painter.drawImage(where.topLeft(), *image);
    }
}
