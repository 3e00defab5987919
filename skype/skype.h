#pragma once

// The client's automation object model over the API text protocol. Every property read is one
// command sent afresh; nothing is cached. Handles (IChat, ICall, ...) are light values: an id
// plus a counted reference to the connection that made them. Once that connection is gone
// (its TSkype destroyed), every operation on its handles throws instead of reaching another one.
// Every failure throws SkypeError.

#include "skypeerror.h"
#include "transport.h"

#include <QObject>
#include <QString>

#include <memory>

class SkypeConnection;
class IChat;

class IUser final
{
public:
    IUser() = default;
    IUser(std::shared_ptr<SkypeConnection> connection, QString handle);
    QString Handle() const;

private:
    std::shared_ptr<SkypeConnection> m_connection;
    QString m_handle;
};

class IChatMessage final
{
public:
    IChatMessage() = default;
    IChatMessage(std::shared_ptr<SkypeConnection> connection, int id);
    bool isNull() const { return !m_connection; }
    int Id() const { return m_id; }
    QString Body() const;
    QString FromHandle() const;
    QString ChatName() const;
    IChat Chat() const;

private:
    std::shared_ptr<SkypeConnection> m_connection;
    int m_id = 0;
};

class IChat final
{
public:
    IChat() = default;
    IChat(std::shared_ptr<SkypeConnection> connection, QString name);
    bool isNull() const { return !m_connection; }
    QString Name() const;
    QString Topic() const;
    IChatMessage SendMessage(const QString &text) const;

private:
    std::shared_ptr<SkypeConnection> m_connection;
    QString m_name;
};

class ICall final
{
public:
    ICall() = default;
    ICall(std::shared_ptr<SkypeConnection> connection, int id);
    bool isNull() const { return !m_connection; }
    int Id() const { return m_id; }
    QString PartnerHandle() const;
    int Status() const;
    void Hold() const;
    void Resume() const;
    void Join(int otherCallId) const;

private:
    std::shared_ptr<SkypeConnection> m_connection;
    int m_id = 0;
};

// The client's active calls; Count and Item each fetch the list anew. Positions run 1..Count.
class ICallCollection final
{
public:
    explicit ICallCollection(std::shared_ptr<SkypeConnection> connection);
    int Count() const;
    ICall Item(int position) const;

private:
    std::shared_ptr<SkypeConnection> m_connection;
};

class IConversion final
{
public:
    QString CallStatusToText(int status) const;
};

// A raw text command for TSkype::SendCommand.
struct ICommand
{
    int Id = 0;
    QString Command;
    QString Reply;
    bool Blocking = false;
    int Timeout = 0; // milliseconds a blocking command waits for its reply
};

class TSkype final : public QObject
{
    Q_OBJECT
public:
    // Default bound on every blocking command, so a silent client cannot freeze the program.
    static constexpr int DefaultCommandTimeoutMs = 5000;

    explicit TSkype(std::unique_ptr<Transport> transport, QObject *parent = nullptr);
    ~TSkype() override;

    // Starts the NAME/PROTOCOL handshake. wait false returns at once; the outcome always arrives
    // later through OnAttachmentStatus, from the event loop.
    void Attach(int protocol = 8, bool wait = false);
    int AttachmentStatus() const;

    IUser CurrentUser() const;
    ICallCollection ActiveCalls() const;
    ICall PlaceCall(const QString &target, const QString &target2 = {}, const QString &target3 = {},
                    const QString &target4 = {});
    IConversion Convert() const { return {}; }
    // Handles for objects the caller already knows by id or name; nothing is sent until used.
    ICall Call(int id) const;
    IChatMessage Message(int id) const;
    IChat Chat(const QString &name) const;
    ICommand Command(int id, const QString &command, const QString &reply = {}, bool block = false,
                     int timeout = 30000) const;
    // A blocking command that outlives its Timeout counts as sent: no error, the client still runs it.
    void SendCommand(const ICommand &command);
    bool SilentMode() const;

    void setCommandTimeout(int ms);

signals:
    void OnAttachmentStatus(int status);
    void OnMessageStatus(const IChatMessage &message, int status);
    void OnCallStatus(const ICall &call, int status);

private:
    std::shared_ptr<SkypeConnection> m_connection;
};
