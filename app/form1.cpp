#include "form1.h"

#include "appicon.h"

#include <overlayswitch.h>
#include <tform3.h>

#include <protocol.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace {

const QString Asterisks = QString(55, u'*');

const QStringList Banner = {
    Asterisks,
    u"Successfully attached to Skype!"_s,
    u"Available commands via standard Skype chat:"_s,
    u"   /host - starts hosting a conferece call in Skype chat"_s,
    u"   /silent - Silent Mode On"_s,
    u"   /join - joins the conference (for remote users)"_s,
    u"   /remote_reboot - reboot the software  (for remote users)"_s,
    u"   /remote_host - starts hosting a conferece call in Skype chat (for remote users)"_s,
    Asterisks,
};

const QString NoConnection = u"No connection to Skype. Press \"リブート\" to try again."_s;

// Enough for a long day of calls, and a log that cannot eat the machine's memory.
constexpr int MaxLogLines = 100000;

// How long after showing the window the window manager may still frame it.
constexpr qint64 FramingGraceMs = 3000;

template <typename T> T *named(T *object, const QString &name)
{
    object->setObjectName(name);
    return object;
}

// The tool bar's places were laid out for a Gothic face narrower than its stand-ins here: a
// caption that would be cut off gets a slightly smaller size instead, so it stays readable.
void fitCaption(QWidget *control, int width)
{
    auto needed = [control] {
        if (auto *button = qobject_cast<QPushButton *>(control))
            return button->fontMetrics().horizontalAdvance(button->text()) + 6;
        if (auto *label = qobject_cast<QLabel *>(control))
            return label->fontMetrics().horizontalAdvance(label->text());
        return control->sizeHint().width();
    };
    QFont font = control->font();
    while (needed() > width && font.pixelSize() > 9) {
        font.setPixelSize(font.pixelSize() - 1);
        control->setFont(font);
    }
}

} // namespace

TForm1::TForm1(Environment environment, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint)
    , m_transportFactory(std::move(environment.transportFactory))
    , m_errorReporter(std::move(environment.errorReporter))
    , m_platform(std::move(environment.platform))
    , m_conference(*this)
{
    if (!m_errorReporter)
        m_errorReporter = std::make_shared<MessageBoxErrorReporter>();
    if (!m_platform)
        m_platform = DesktopPlatform::forRunningPlatform();

    setObjectName(u"Form1"_s);
    setWindowTitle(u"Lumotalk2"_s);
    setWindowIcon(lumotalkIcon());
    QFont font;
    font.setFamilies({u"ＭＳ Ｐゴシック"_s, u"IPAPGothic"_s});
    font.setPixelSize(12);
    setFont(font);

    createControls();
    connectControls();

    setOuterBounds(DesignBounds);
}

TForm1::~TForm1()
{
    m_closing = true;
    dropConnection();
    Overlay.reset();
}

void TForm1::createControls()
{
    Memo1 = named(new QPlainTextEdit(u"Memo1"_s, this), u"Memo1"_s);
    Memo1->setMaximumBlockCount(MaxLogLines);
    ListBox1 = named(new QListWidget(this), u"ListBox1"_s);
    ListBox1->setFixedWidth(121);

    ToolBar1 = named(new QWidget(this), u"ToolBar1"_s);
    ToolBar1->setFixedHeight(29);
    auto place = [this](QWidget *control, int left, int width) {
        control->setParent(ToolBar1);
        control->setGeometry(left, 2, width, 23);
        if (qobject_cast<QLabel *>(control) || qobject_cast<QAbstractButton *>(control))
            fitCaption(control, width);
        return control;
    };
    LumotalkMode = named(new QCheckBox(u"Lumotalk"_s), u"LumotalkMode"_s);
    place(LumotalkMode, 0, 73);
    Label1 = named(new QLabel(u"Speed"_s), u"Label1"_s);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    place(Label1, 73, 31);
    SpinEdit1 = named(new QSpinBox, u"SpinEdit1"_s);
    SpinEdit1->setRange(1, 500);
    SpinEdit1->setSingleStep(10);
    SpinEdit1->setValue(150);
    place(SpinEdit1, 104, 64);
    ToolButton1 = named(new QWidget, u"ToolButton1"_s);
    place(ToolButton1, 168, 92);
    Silent = named(new QPushButton(u"Silent Mode"_s), u"Silent"_s);
    place(Silent, 260, 75);
    RemoteReboot = named(new QCheckBox(u"Use Remote_Reboot"_s), u"RemoteReboot"_s);
    place(RemoteReboot, 335, 126);
    remote_join = named(new QCheckBox(u"use remote_join"_s), u"remote_join"_s);
    place(remote_join, 461, 97);
    ToolButton2 = named(new QWidget, u"ToolButton2"_s);
    place(ToolButton2, 558, 23);
    Button4 = named(new QPushButton(u"Minimum"_s), u"Button4"_s);
    place(Button4, 581, 93);
    // The restart button stays out of sight; it appears only when there is no connection, so that
    // the user has a way to try again.
    Button1 = named(new QPushButton(u"リブート"_s), u"Button1"_s);
    place(Button1, 688, 75);
    Button1->setFocusPolicy(Qt::NoFocus);
    Button1->hide();

    auto *client = new QHBoxLayout;
    client->setContentsMargins(0, 0, 0, 0);
    client->setSpacing(0);
    client->addWidget(Memo1, 1);
    client->addWidget(ListBox1);
    auto *form = new QVBoxLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(0);
    form->addWidget(ToolBar1);
    form->addLayout(client, 1);

    setTabOrder(Memo1, ListBox1);
    setTabOrder(ListBox1, Button4);
    setTabOrder(Button4, LumotalkMode);
    setTabOrder(LumotalkMode, Silent);
    setTabOrder(Silent, SpinEdit1);
    setTabOrder(SpinEdit1, RemoteReboot);
    setTabOrder(RemoteReboot, remote_join);

    Timer1 = named(new QTimer(this), u"Timer1"_s);
    Timer1->setSingleShot(true);
    Timer1->setInterval(1000);

    PopupMenu1 = named(new QMenu(this), u"PopupMenu1"_s);
    Show1 = named(PopupMenu1->addAction(u"表示"_s), u"Show1"_s);
    TrayIcon1 = named(new QSystemTrayIcon(lumotalkIcon(), this), u"TrayIcon1"_s);
    TrayIcon1->setToolTip(u"Lumotalk"_s);
    TrayIcon1->setContextMenu(PopupMenu1);
    // Shown even without a notification area: the icon appears once one starts.
    TrayIcon1->show();
}

void TForm1::connectControls()
{
    connect(Button1, &QPushButton::clicked, this, [this] { guard([this] { Button1Click(); }); });
    connect(Timer1, &QTimer::timeout, this, [this] { guard([this] { Timer1Timer(); }); });
    connect(Button4, &QPushButton::clicked, this, [this] { guard([this] { Button4Click(); }); });
    connect(Silent, &QPushButton::clicked, this, [this] { guard([this] { SilentClick(); }); });
    connect(LumotalkMode, &QCheckBox::clicked, this, [this] { guard([this] { LumotalkModeClick(); }); });
    connect(Show1, &QAction::triggered, this, [this] { guard([this] { Show1Click(); }); });
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            guard([this] { TrayIcon1DblClick(); });
    });
}

void TForm1::start()
{
    guard([this] { FormCreate(); });
    show();
}

// The steps that need no connection come first, so that a connection that cannot be made still
// leaves a complete window that says so.
void TForm1::FormCreate()
{
    Hidden = 0;
    m_conference.endHosting();
    setWindowTitle(u"Lumotalk2"_s);
    Memo1->setReadOnly(true);
    Memo1->clear();
    if (!m_platform->trayAvailable())
        Log(u"No notification area on this desktop: \"Minimum\" hides the window until a tray icon can bring it back."_s);
    connectionSetUp();
}

void TForm1::connectionSetUp()
{
    try {
        if (!m_transportFactory)
            throw SkypeError(0, u"No way to reach Skype is configured."_s);
        auto skype = std::make_unique<TSkype>(m_transportFactory());
        connect(skype.get(), &TSkype::OnAttachmentStatus, this,
                [this](int status) { guard([this, status] { SkypeAttachmentStatus(status); }); });
        connect(skype.get(), &TSkype::OnMessageStatus, this, [this](const IChatMessage &message, int status) {
            guard([this, &message, status] { m_conference.SkypeMessageStatus(message, status); });
        });
        connect(skype.get(), &TSkype::OnCallStatus, this, [this](const ICall &call, int status) {
            guard([this, &call, status] { m_conference.SkypeCallStatus(call, status); });
        });
        skype->Attach(Protocol::Version, false);
        skype->setParent(this);
        Skype = skype.release();
        Button1->hide();
    } catch (...) {
        Skype = nullptr;
        Log(NoConnection);
        Button1->show();
        throw;
    }
}

void TForm1::dropConnection()
{
    if (!Skype)
        return;
    // The restart may run inside one of this connection's own signals (a wait that pumps events),
    // so it is cut off now and deleted once that has unwound.
    disconnect(Skype, nullptr, this, nullptr);
    Skype->deleteLater();
    Skype = nullptr;
}

void TForm1::SkypeAttachmentStatus(int status)
{
    if (status == Protocol::AttachAvailable && Skype)
        Skype->Attach(Protocol::Version, false);
    if (status != Protocol::AttachSuccess)
        return;
    Memo1->clear();
    for (const QString &line : Banner)
        Log(line);
    m_conference.UpdateActiveCalls();
    emit attached();
}

void TForm1::Button1Click()
{
    dropConnection();
    ++m_generation;
    m_conference.endHosting();
    setWindowTitle(u"ぬむぬむ☆"_s);
    Memo1->setReadOnly(true);
    Memo1->clear();
    connectionSetUp();
}

void TForm1::Timer1Timer()
{
    Timer1->stop();
    Button1->click();
}

void TForm1::Button4Click()
{
    HideWindow();
}

void TForm1::TrayIcon1DblClick()
{
    RestoreWindow();
}

void TForm1::Show1Click()
{
    RestoreWindow();
}

void TForm1::SilentClick()
{
    if (!Skype) {
        Log(NoConnection);
        return;
    }
    m_conference.SilentClick();
}

void TForm1::LumotalkModeClick()
{
    switchOverlay(
        LumotalkMode->isChecked(), Overlay, this, [this] { return SpinEdit1->value(); },
        [this](const QString &text) { Log(text); });
}

void TForm1::HideWindow()
{
    if (Hidden != 0)
        return;
    const QRect outer = frameGeometry();
    SavedTop = outer.top();
    SavedLeft = outer.left();
    SavedWidth = outer.width();
    SavedHeight = outer.height();
    m_pendingBounds.reset();
    if (m_platform->hidesByMoving())
        move(m_platform->offscreenPoint());
    else
        hide();
    Hidden = ~quint32(0);
}

void TForm1::RestoreWindow()
{
    if (Hidden == 0)
        return;
    const QRect saved = savedBounds();
    if (isHidden()) {
        if (m_platform->canPlaceWindows())
            setOuterBounds(saved);
        show();
    }
    if (m_platform->canPlaceWindows())
        setOuterBounds(saved);
    Hidden = 0;
}

QMargins TForm1::frameMargins() const
{
    const QRect frame = frameGeometry();
    const QRect inner = geometry();
    return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
            frame.bottom() - inner.bottom()};
}

void TForm1::setOuterBounds(const QRect &outer)
{
    // Until the window manager has framed the window its frame is not known; the bounds are put
    // again once it is (followFrame).
    m_pendingBounds = outer;
    m_placedWithMargins = frameMargins();
    if (isVisible())
        m_pendingSince.start();
    else
        m_pendingSince.invalidate(); // starts when the window is shown
    // move() places a window's frame; resize() sizes what lies inside it.
    move(outer.topLeft());
    resize(outer.size().shrunkBy(m_placedWithMargins));
}

void TForm1::followFrame()
{
    if (!m_pendingBounds || !m_pendingSince.isValid())
        return;
    if (m_pendingSince.hasExpired(FramingGraceMs)) {
        m_pendingBounds.reset();
        return;
    }
    if (frameMargins() != m_placedWithMargins) {
        const QRect wanted = *m_pendingBounds;
        setOuterBounds(wanted);
    }
}

bool TForm1::event(QEvent *event)
{
    const bool result = QWidget::event(event);
    switch (event->type()) {
    case QEvent::Show:
        if (m_pendingBounds && !m_pendingSince.isValid()) {
            m_pendingSince.start();
            // Framing a window sends it no event of its own, so look again a few times.
            for (const int ms : {50, 200, 600, 1500})
                QTimer::singleShot(ms, this, &TForm1::followFrame);
        }
        [[fallthrough]];
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Paint:
    case QEvent::UpdateRequest:
        followFrame();
        break;
    default:
        break;
    }
    return result;
}

void TForm1::closeEvent(QCloseEvent *event)
{
    m_closing = true;
    QWidget::closeEvent(event);
    emit closed();
}

void TForm1::Log(const QString &text)
{
    Memo1->appendPlainText(text);
}

void TForm1::showActiveCalls(const QStringList &lines)
{
    ListBox1->clear();
    ListBox1->addItems(lines);
}

bool TForm1::remoteJoinAllowed() const
{
    return remote_join->isChecked();
}

bool TForm1::remoteRebootAllowed() const
{
    return RemoteReboot->isChecked();
}

bool TForm1::overlayMode() const
{
    return LumotalkMode->isChecked() && Overlay;
}

void TForm1::addComment(const QString &text)
{
    if (Overlay)
        Overlay->AddComment(text);
}

void TForm1::armRestartTimer()
{
    // Arming an armed timer keeps its pending tick: one restart follows.
    if (!Timer1->isActive())
        Timer1->start();
}

void TForm1::setStayOnTop(bool on)
{
    if (QWindow *window = windowHandle();
        window && window->flags().testFlag(Qt::WindowStaysOnTopHint) != on) {
        // Through the native window, so the window is neither recreated nor moved.
        window->setFlag(Qt::WindowStaysOnTopHint, on);
    }
    // Keeps the widget's own flags in step for windows made later (after a hide, for instance).
    const bool visible = isVisible();
    if (!windowHandle() || !visible)
        setWindowFlag(Qt::WindowStaysOnTopHint, on);
}
