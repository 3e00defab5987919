// skypesim: the simulated chat-and-call client as a program. It owns the client's API name on
// the session bus, serves any number of programs, and offers a window and a control interface
// with which a person or a script plays the client's user and the remote contacts.

#include "apiserver.h"
#include "apiservice.h"
#include "dbusnames.h"
#include "sessionbuswatch.h"
#include "simcontrol.h"
#include "simwindow.h"
#include "trafficlog.h"
#include "world.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

enum ExitCode { ExitOk = 0, ExitUsage = 1, ExitBadWorld = 2, ExitNoBus = 3, ExitNameTaken = 4 };

void complain(const QString &text)
{
    std::fprintf(stderr, "skypesim: %s\n", text.toLocal8Bit().constData());
}

bool takeName(QDBusConnection &bus, const QString &name)
{
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        name, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

} // namespace

int main(int argc, char *argv[])
{
    // Headless (and --help) must work without any display, so the kind of application is chosen
    // before Qt looks at its arguments.
    bool windowless = false;
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"--headless", "--help", "-h", "--help-all"}) {
            if (qstrcmp(argv[i], option) == 0)
                windowless = true;
        }
    }
    std::unique_ptr<QCoreApplication> app = windowless ? std::make_unique<QCoreApplication>(argc, argv)
                                                       : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(u"skypesim"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Simulated chat-and-call client. Serves the client's API (%1) on the session bus and a "
        "control interface (%2 %3) for scripts and tests."_s.arg(
            DBusNames::ApiService, DBusNames::SimControlService, DBusNames::SimControlPath));
    parser.addHelpOption();
    const QCommandLineOption headlessOption(u"headless"_s, u"Run without a window."_s);
    const QCommandLineOption worldOption(
        u"world"_s, u"Load the world (account, contacts, chats) from a JSON file."_s, u"file"_s);
    const QCommandLineOption noAutoAllowOption(u"no-auto-allow"_s,
                                               u"Ask before letting a program attach (default: allow)."_s);
    parser.addOptions({headlessOption, worldOption, noAutoAllowOption});
    parser.process(*app);
    if (!parser.positionalArguments().isEmpty()) {
        complain(u"unexpected argument \"%1\" (see --help)"_s.arg(parser.positionalArguments().constFirst()));
        return ExitUsage;
    }

    WorldSetup setup = World::defaultSetup();
    if (parser.isSet(worldOption)) {
        const QString path = parser.value(worldOption);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            complain(u"cannot read the world file %1: %2"_s.arg(path, file.errorString()));
            return ExitBadWorld;
        }
        QString error;
        std::optional<WorldSetup> loaded = World::fromJson(file.readAll(), &error);
        if (!loaded) {
            complain(u"the world file %1 is not usable: %2"_s.arg(path, error));
            return ExitBadWorld;
        }
        setup = std::move(*loaded);
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        complain(u"no session bus to serve on (%1)"_s.arg(bus.lastError().message()));
        return ExitNoBus;
    }

    World world(std::move(setup));
    world.setRealTime(true);
    ApiServer server(&world);
    server.setAutoAllow(!parser.isSet(noAutoAllowOption));
    TrafficLog traffic;
    ApiService api(&server, &traffic, bus);
    SimControl control(&world, &server, &traffic, bus);
    if (!api.exportObject() || !control.exportObject()) {
        complain(u"cannot export the simulator's objects on the session bus"_s);
        return ExitNoBus;
    }

    // The control name first: once the API name shows, clients and tests may rely on both.
    if (!takeName(bus, DBusNames::SimControlService)) {
        complain(u"the bus name %1 is already taken: another skypesim runs on this session bus"_s.arg(
            DBusNames::SimControlService));
        return ExitNameTaken;
    }
    if (!takeName(bus, DBusNames::ApiService)) {
        complain(
            u"the bus name %1 is already taken: another client or simulator runs on this session bus"_s.arg(
                DBusNames::ApiService));
        return ExitNameTaken;
    }

    SessionBusWatch busLoss(bus);
    QObject::connect(&busLoss, &SessionBusWatch::lost, app.get(), [] {
        complain(u"the session bus has gone away; exiting"_s);
        QCoreApplication::exit(ExitNoBus);
    });

    std::unique_ptr<SimWindow> window;
    if (!parser.isSet(headlessOption)) {
        window = std::make_unique<SimWindow>(&world, &server, &api, &control, &traffic);
        window->show();
    }
    return app->exec();
}
