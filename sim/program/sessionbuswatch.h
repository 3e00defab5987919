#pragma once

#include <QDBusConnection>
#include <QObject>

// Tells when the bus connection is gone (the bus daemon ended): the simulator is of no use then.
class SessionBusWatch final : public QObject
{
    Q_OBJECT
public:
    explicit SessionBusWatch(QDBusConnection connection, QObject *parent = nullptr)
        : QObject(parent)
    {
        using namespace Qt::StringLiterals;
        connection.connect(QString(), u"/org/freedesktop/DBus/Local"_s, u"org.freedesktop.DBus.Local"_s,
                           u"Disconnected"_s, this, SLOT(disconnected()));
    }

signals:
    void lost();

private slots:
    void disconnected() { emit lost(); }
};
