#pragma once

#include "apiserver.h"
#include "trafficlog.h"

#include <QHash>
#include <QWidget>

class ApiService;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;
class SimControl;
class World;
struct Outcome;

// The window with which a person plays the client: its user and the remote contacts. Nothing
// here blocks; every action goes straight to the world, which notifies the attached programs.
class SimWindow final : public QWidget
{
    Q_OBJECT
public:
    SimWindow(World *world, ApiServer *server, ApiService *api, SimControl *control, TrafficLog *traffic,
              QWidget *parent = nullptr);
    ~SimWindow() override;

private:
    QWidget *buildChats();
    QWidget *buildCalls();
    QWidget *buildContacts();
    QWidget *buildTraffic();

    void refreshChats();
    void showChat();
    void addMessage(qint64 id);
    void updateMessage(qint64 id);
    void sendMessage();
    void refreshCalls();
    void refreshContacts();
    void refreshClients();
    void appendTraffic(const TrafficLog::Entry &entry);
    void askAuthorization(ApiServer::ClientId client, const QString &program);
    void report(const Outcome &outcome, const QString &action);
    QString selectedChat() const;

    World *m_world;
    ApiServer *m_server;
    ApiService *m_api;
    SimControl *m_control;
    TrafficLog *m_traffic;

    QLabel *m_accountLabel = nullptr;
    QLabel *m_clientsLabel = nullptr;
    QCheckBox *m_silentModeBox = nullptr;
    QCheckBox *m_autoAllowBox = nullptr;
    QListWidget *m_chatList = nullptr;
    QLabel *m_chatHeader = nullptr;
    QTreeWidget *m_messageView = nullptr;
    QComboBox *m_senderBox = nullptr;
    QLineEdit *m_messageInput = nullptr;
    QTableWidget *m_callTable = nullptr;
    QComboBox *m_callerBox = nullptr;
    QTableWidget *m_contactTable = nullptr;
    QPlainTextEdit *m_trafficView = nullptr;
    QLabel *m_statusLine = nullptr;
    QHash<qint64, QTreeWidgetItem *> m_messageItems;
};
