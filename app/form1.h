#pragma once

// The main window: the tool bar with the program's switches, the log, the active-call list and
// the tray icon. It owns the one connection to the client and the conference that the client's
// events drive.

#include "desktopplatform.h"
#include "errorreporter.h"
#include "guarded.h"

#include <conference.h>
#include <conferencehost.h>
#include <skype.h>

#include <QElapsedTimer>
#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QCheckBox;
class QLabel;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QSystemTrayIcon;
class QTimer;
class TForm3;

class TForm1 final : public QWidget, public ConferenceHost
{
    Q_OBJECT
public:
    using TransportFactory = std::function<std::unique_ptr<Transport>()>;

    struct Environment
    {
        TransportFactory transportFactory;            // a new path to the client for every connection
        std::shared_ptr<ErrorReporter> errorReporter; // default: message boxes
        std::unique_ptr<DesktopPlatform> platform;    // default: the one for the running platform
    };

    // The outer frame where the window first appears.
    static constexpr QRect DesignBounds{220, 129, 805, 297};

    explicit TForm1(Environment environment, QWidget *parent = nullptr);
    ~TForm1() override;

    // Start-up as the program does it: the creation handler under the guard, then the window shown.
    void start();

    // Handlers. Each may throw; the signals reach them through the guard.
    void FormCreate();
    void SkypeAttachmentStatus(int status);
    void Button1Click();
    void Timer1Timer();
    void Button4Click();
    void TrayIcon1DblClick();
    void Show1Click();
    void SilentClick();
    void LumotalkModeClick();

    Conference &conference() { return m_conference; }
    bool isHiddenAway() const { return Hidden != 0; }
    QRect savedBounds() const { return {SavedLeft, SavedTop, SavedWidth, SavedHeight}; }
    // Puts the window's outer frame (title bar and borders included) at these bounds.
    void setOuterBounds(const QRect &outer);

    // ConferenceHost
    TSkype *skype() const override { return Skype; }
    quint64 connectionGeneration() const override { return m_generation; }
    bool closing() const override { return m_closing; }
    void Log(const QString &text) override;
    void showActiveCalls(const QStringList &lines) override;
    bool remoteJoinAllowed() const override;
    bool remoteRebootAllowed() const override;
    bool overlayMode() const override;
    void addComment(const QString &text) override;
    void armRestartTimer() override;
    void setStayOnTop(bool on) override;

signals:
    // The banner is up after a successful attach.
    void attached();
    // The user closed the window: the program ends.
    void closed();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void connectControls();
    void connectionSetUp();
    void dropConnection();
    void HideWindow();
    void RestoreWindow();
    QMargins frameMargins() const;
    void followFrame();
    template <typename Fn> void guard(Fn &&fn) { guarded(*m_errorReporter, std::forward<Fn>(fn)); }

    // Controls, by their names in the window.
    QPlainTextEdit *Memo1 = nullptr;
    QListWidget *ListBox1 = nullptr;
    QPushButton *Button1 = nullptr;
    QWidget *ToolBar1 = nullptr;
    QCheckBox *LumotalkMode = nullptr;
    QLabel *Label1 = nullptr;
    QSpinBox *SpinEdit1 = nullptr;
    QWidget *ToolButton1 = nullptr;
    QPushButton *Silent = nullptr;
    QCheckBox *RemoteReboot = nullptr;
    QCheckBox *remote_join = nullptr;
    QWidget *ToolButton2 = nullptr;
    QPushButton *Button4 = nullptr;
    QTimer *Timer1 = nullptr;
    QSystemTrayIcon *TrayIcon1 = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *Show1 = nullptr;

    TSkype *Skype = nullptr;         // null while there is no connection
    std::unique_ptr<TForm3> Overlay; // open while overlay mode is on
    qint32 SavedTop = 0;
    qint32 SavedLeft = 0;
    qint32 SavedWidth = 0;
    qint32 SavedHeight = 0;
    quint32 Hidden = 0; // 0, or every bit set while hidden

    TransportFactory m_transportFactory;
    std::shared_ptr<ErrorReporter> m_errorReporter;
    std::unique_ptr<DesktopPlatform> m_platform;
    Conference m_conference;
    quint64 m_generation = 1;
    bool m_closing = false;

    // Outer bounds asked for before the window manager framed the window; followed until the
    // frame is known and the window sits there.
    std::optional<QRect> m_pendingBounds;
    QMargins m_placedWithMargins;
    QElapsedTimer m_pendingSince;
};
