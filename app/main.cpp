#include "appicon.h"
#include "desktopplatform.h"
#include "form1.h"

#include <dbustransport.h>

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFont>
#include <QTimer>
#include <QWindow>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Start-up measurement only (LUMOTALK_MEASURE=1): prints when the window is first on the screen
// and when the attach succeeded, then, once both have happened, the resident memory, and ends.
class StartupProbe final : public QObject
{
public:
    explicit StartupProbe(TForm1 &form)
        : QObject(&form)
    {
        form.winId(); // the native window now, so its first exposure can be seen
        form.windowHandle()->installEventFilter(this);
        connect(&form, &TForm1::attached, this, [this] {
            if (m_attached)
                return;
            m_attached = true;
            std::printf("attached_epoch_ms=%lld\n", QDateTime::currentMSecsSinceEpoch());
            finishWhenDone();
        });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && !m_painted && static_cast<QWindow *>(watched)->isExposed()) {
            m_painted = true;
            std::printf("shown_epoch_ms=%lld\n", QDateTime::currentMSecsSinceEpoch());
            finishWhenDone();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void finishWhenDone()
    {
        if (m_painted && m_attached) {
            std::printf("rss_kb=%ld\n", residentKb());
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        std::fflush(stdout);
    }

    static long residentKb()
    {
        QFile status(u"/proc/self/status"_s);
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
        return -1;
    }

    bool m_painted = false;
    bool m_attached = false;
};

} // namespace

int main(int argc, char *argv[])
{
    preferXcbOnWayland();
    QApplication app(argc, argv);
    // The name, not the display name: that one would be appended to every window caption.
    QApplication::setApplicationName(u"Lumotalk"_s);
    QApplication::setWindowIcon(lumotalkIcon());
    QFont::insertSubstitution(u"ＭＳ Ｐゴシック"_s, u"IPAPGothic"_s);

    TForm1::Environment environment;
    environment.transportFactory = [] { return std::make_unique<DBusTransport>(); };
    TForm1 form(std::move(environment));
    if (qEnvironmentVariableIntValue("LUMOTALK_MEASURE") == 1)
        new StartupProbe(form);
    // A tool window does not count as the last window closing, so its close ends the program here.
    QObject::connect(&form, &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    form.start();
    return app.exec();
}
