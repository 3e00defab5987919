#include "simwindow.h"

#include "apiservice.h"
#include "protocol.h"
#include "simcontrol.h"
#include "world.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

constexpr int NameRole = Qt::UserRole;
// The traffic pane shows this much of one text; the control interface has it all.
constexpr qsizetype TrafficDisplayLength = 400;
// Huge bodies are shown cut, so one message cannot make the window crawl.
constexpr qsizetype MessageDisplayLength = 2000;
const QStringList BehaviourWords = {u"answer"_s,   u"refuse"_s, u"busy"_s,
                                    u"noanswer"_s, u"never"_s,  u"offline"_s};

QString chatTitle(const Chat &chat, const QString &localHandle)
{
    if (chat.dialog) {
        for (const QString &member : chat.members) {
            if (member != localHandle)
                return u"Dialog with %1"_s.arg(member);
        }
    }
    return chat.topic.isEmpty() ? chat.name : chat.topic;
}

QToolButton *actionButton(const QString &text, const QString &objectName, bool enabled, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setText(text);
    button->setObjectName(objectName);
    button->setEnabled(enabled);
    button->setAutoRaise(false);
    return button;
}

} // namespace

SimWindow::SimWindow(World *world, ApiServer *server, ApiService *api, SimControl *control,
                     TrafficLog *traffic, QWidget *parent)
    : QWidget(parent)
    , m_world(world)
    , m_server(server)
    , m_api(api)
    , m_control(control)
    , m_traffic(traffic)
{
    setObjectName(u"SimWindow"_s);
    setWindowTitle(u"skypesim — simulated client"_s);

    auto *top = new QHBoxLayout;
    m_accountLabel = new QLabel(this);
    m_accountLabel->setObjectName(u"accountLabel"_s);
    m_clientsLabel = new QLabel(this);
    m_clientsLabel->setObjectName(u"clientsLabel"_s);
    m_silentModeBox = new QCheckBox(u"Silent mode"_s, this);
    m_silentModeBox->setObjectName(u"silentModeBox"_s);
    m_autoAllowBox = new QCheckBox(u"Allow programs without asking"_s, this);
    m_autoAllowBox->setObjectName(u"autoAllowBox"_s);
    auto *resetButton = new QPushButton(u"Reset world"_s, this);
    resetButton->setObjectName(u"resetButton"_s);
    top->addWidget(m_accountLabel);
    top->addSpacing(24);
    top->addWidget(m_clientsLabel);
    top->addStretch();
    top->addWidget(m_silentModeBox);
    top->addSpacing(12);
    top->addWidget(m_autoAllowBox);
    top->addSpacing(12);
    top->addWidget(resetButton);

    auto *middle = new QSplitter(Qt::Horizontal, this);
    middle->addWidget(buildCalls());
    middle->addWidget(buildContacts());
    middle->setStretchFactor(0, 2);
    middle->setStretchFactor(1, 1);
    middle->setSizes({880, 460});

    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(buildChats());
    split->addWidget(middle);
    split->addWidget(buildTraffic());
    split->setStretchFactor(0, 5);
    split->setStretchFactor(1, 3);
    split->setStretchFactor(2, 3);

    m_statusLine = new QLabel(this);
    m_statusLine->setObjectName(u"statusLine"_s);
    m_statusLine->setTextFormat(Qt::PlainText);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);
    layout->addWidget(m_statusLine);

    m_accountLabel->setText(
        u"Signed in as %1 (%2)"_s.arg(m_world->account().handle, m_world->account().fullName));
    m_silentModeBox->setChecked(m_world->silentMode());
    m_autoAllowBox->setChecked(m_server->autoAllow());

    connect(m_silentModeBox, &QCheckBox::toggled, this, [this](bool on) { m_world->setSilentMode(on); });
    connect(m_world, &World::silentModeChanged, this, [this](bool on) {
        const QSignalBlocker blocker(m_silentModeBox);
        m_silentModeBox->setChecked(on);
    });
    connect(m_autoAllowBox, &QCheckBox::toggled, this, [this](bool on) { m_server->setAutoAllow(on); });
    connect(m_control, &SimControl::autoAllowChanged, this, [this](bool on) {
        const QSignalBlocker blocker(m_autoAllowBox);
        m_autoAllowBox->setChecked(on);
    });
    connect(resetButton, &QPushButton::clicked, this, [this] { m_world->reset(); });

    connect(m_world, &World::chatsChanged, this, &SimWindow::refreshChats);
    connect(m_world, &World::messageAdded, this, &SimWindow::addMessage);
    connect(m_world, &World::messageChanged, this, &SimWindow::updateMessage);
    connect(m_world, &World::callAdded, this, &SimWindow::refreshCalls);
    connect(m_world, &World::callChanged, this, &SimWindow::refreshCalls);
    connect(m_world, &World::contactsChanged, this, &SimWindow::refreshContacts);
    connect(m_world, &World::worldReset, this, [this] {
        m_accountLabel->setText(
            u"Signed in as %1 (%2)"_s.arg(m_world->account().handle, m_world->account().fullName));
        refreshChats();
        refreshCalls();
        refreshContacts();
    });
    connect(m_api, &ApiService::clientsChanged, this, &SimWindow::refreshClients);
    connect(m_traffic, &TrafficLog::added, this, &SimWindow::appendTraffic);
    connect(m_traffic, &TrafficLog::cleared, m_trafficView, &QPlainTextEdit::clear);
    connect(m_server, &ApiServer::authorizationRequested, this, &SimWindow::askAuthorization);

    refreshChats();
    refreshCalls();
    refreshContacts();
    refreshClients();
    for (const TrafficLog::Entry &entry : m_traffic->entries())
        appendTraffic(entry);
    resize(1360, 900);
}

SimWindow::~SimWindow() = default;

QWidget *SimWindow::buildChats()
{
    auto *box = new QGroupBox(u"Chats"_s, this);
    m_chatList = new QListWidget(box);
    m_chatList->setObjectName(u"chatList"_s);

    m_chatHeader = new QLabel(box);
    m_chatHeader->setObjectName(u"chatHeader"_s);
    m_chatHeader->setTextFormat(Qt::PlainText);
    m_chatHeader->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_chatHeader->setWordWrap(true);

    m_messageView = new QTreeWidget(box);
    m_messageView->setObjectName(u"messageView"_s);
    m_messageView->setHeaderLabels({u"Time"_s, u"From"_s, u"Message"_s, u"Status"_s});
    m_messageView->setRootIsDecorated(false);
    m_messageView->setUniformRowHeights(false);
    m_messageView->setWordWrap(true);
    m_messageView->header()->setStretchLastSection(false);
    m_messageView->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_messageView->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_messageView->header()->setSectionResizeMode(2, QHeaderView::Stretch);
    m_messageView->header()->setSectionResizeMode(3, QHeaderView::ResizeToContents);

    m_senderBox = new QComboBox(box);
    m_senderBox->setObjectName(u"senderBox"_s);
    m_senderBox->setToolTip(u"Who writes: you, or a member of the chat"_s);
    m_messageInput = new QLineEdit(box);
    m_messageInput->setObjectName(u"messageInput"_s);
    m_messageInput->setPlaceholderText(u"Type a message (\"/host\", \"/join\", ...) and press Enter"_s);
    auto *sendButton = new QPushButton(u"Send"_s, box);
    sendButton->setObjectName(u"sendButton"_s);

    auto *inputRow = new QHBoxLayout;
    inputRow->addWidget(new QLabel(u"As"_s, box));
    inputRow->addWidget(m_senderBox);
    inputRow->addWidget(m_messageInput, 1);
    inputRow->addWidget(sendButton);

    auto *right = new QWidget(box);
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(m_chatHeader);
    rightLayout->addWidget(m_messageView, 1);
    rightLayout->addLayout(inputRow);

    auto *split = new QSplitter(Qt::Horizontal, box);
    split->addWidget(m_chatList);
    split->addWidget(right);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 3);

    auto *layout = new QVBoxLayout(box);
    layout->addWidget(split);

    connect(m_chatList, &QListWidget::currentItemChanged, this, &SimWindow::showChat);
    connect(m_messageInput, &QLineEdit::returnPressed, this, &SimWindow::sendMessage);
    connect(sendButton, &QPushButton::clicked, this, &SimWindow::sendMessage);
    return box;
}

QWidget *SimWindow::buildCalls()
{
    auto *box = new QGroupBox(u"Calls"_s, this);
    m_callTable = new QTableWidget(0, 6, box);
    m_callTable->setObjectName(u"callTable"_s);
    m_callTable->setHorizontalHeaderLabels(
        {u"Id"_s, u"Contact"_s, u"Direction"_s, u"Status"_s, u"Remote side"_s, u"You"_s});
    m_callTable->verticalHeader()->hide();
    m_callTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_callTable->setSelectionMode(QAbstractItemView::NoSelection);
    m_callTable->setWordWrap(false);
    m_callTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_callTable->horizontalHeader()->setStretchLastSection(true);

    m_callerBox = new QComboBox(box);
    m_callerBox->setObjectName(u"callerBox"_s);
    auto *callMeButton = new QPushButton(u"Call me"_s, box);
    callMeButton->setObjectName(u"callMeButton"_s);
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(u"A contact calls you:"_s, box));
    row->addWidget(m_callerBox);
    row->addWidget(callMeButton);
    row->addStretch();

    auto *layout = new QVBoxLayout(box);
    layout->addWidget(m_callTable, 1);
    layout->addLayout(row);

    connect(callMeButton, &QPushButton::clicked, this, [this] {
        const QString handle = m_callerBox->currentData().toString();
        report(m_world->callLocalUser(handle), u"%1 calls you"_s.arg(handle));
    });
    return box;
}

QWidget *SimWindow::buildContacts()
{
    auto *box = new QGroupBox(u"Contacts: what each does when you call"_s, this);
    m_contactTable = new QTableWidget(0, 3, box);
    m_contactTable->setObjectName(u"contactTable"_s);
    m_contactTable->setHorizontalHeaderLabels({u"Contact"_s, u"Behaviour"_s, u"After (ms)"_s});
    m_contactTable->verticalHeader()->hide();
    m_contactTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_contactTable->setSelectionMode(QAbstractItemView::NoSelection);
    m_contactTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_contactTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    auto *layout = new QVBoxLayout(box);
    layout->addWidget(m_contactTable);
    return box;
}

QWidget *SimWindow::buildTraffic()
{
    auto *box = new QGroupBox(u"API traffic"_s, this);
    m_trafficView = new QPlainTextEdit(box);
    m_trafficView->setObjectName(u"trafficView"_s);
    m_trafficView->setReadOnly(true);
    m_trafficView->setMaximumBlockCount(3000);
    m_trafficView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_trafficView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto *clearButton = new QPushButton(u"Clear"_s, box);
    clearButton->setObjectName(u"clearTrafficButton"_s);
    auto *legend = new QLabel(u"→ command   ← reply   ◆ notification   • connection"_s, box);
    auto *row = new QHBoxLayout;
    row->addWidget(legend);
    row->addStretch();
    row->addWidget(clearButton);
    auto *layout = new QVBoxLayout(box);
    layout->addWidget(m_trafficView, 1);
    layout->addLayout(row);
    connect(clearButton, &QPushButton::clicked, m_traffic, &TrafficLog::clear);
    return box;
}

QString SimWindow::selectedChat() const
{
    const QListWidgetItem *item = m_chatList->currentItem();
    return item ? item->data(NameRole).toString() : QString();
}

void SimWindow::refreshChats()
{
    const QString previous = selectedChat();
    {
        const QSignalBlocker blocker(m_chatList);
        m_chatList->clear();
        for (const Chat &chat : m_world->chats()) {
            auto *item = new QListWidgetItem(chatTitle(chat, m_world->account().handle), m_chatList);
            item->setData(NameRole, chat.name);
            item->setToolTip(chat.name);
            if (chat.name == previous)
                m_chatList->setCurrentItem(item);
        }
        if (!m_chatList->currentItem() && m_chatList->count() > 0)
            m_chatList->setCurrentRow(0);
    }
    showChat();
}

void SimWindow::showChat()
{
    const std::optional<Chat> chat = m_world->chat(selectedChat());
    m_messageView->clear();
    m_messageItems.clear();
    const QString previousSender = m_senderBox->currentData().toString();
    m_senderBox->clear();
    if (!chat) {
        m_chatHeader->clear();
        return;
    }
    if (QListWidgetItem *item = m_chatList->currentItem()) {
        QFont font = item->font();
        font.setBold(false);
        item->setFont(font);
    }
    m_chatHeader->setText(u"%1\nMembers: %2"_s.arg(chat->name, chat->members.join(u", "_s)));
    const QString local = m_world->account().handle;
    m_senderBox->addItem(u"%1 (you)"_s.arg(local), local);
    for (const QString &member : chat->members) {
        if (member != local)
            m_senderBox->addItem(member, member);
    }
    const int index = m_senderBox->findData(previousSender);
    m_senderBox->setCurrentIndex(index >= 0 ? index : 0);
    for (const Message &message : m_world->messages(chat->name))
        addMessage(message.id);
}

void SimWindow::addMessage(qint64 id)
{
    const std::optional<Message> message = m_world->message(id);
    if (!message)
        return;
    if (message->chatName != selectedChat()) {
        // Show the person where something new was written.
        for (int row = 0; row < m_chatList->count(); ++row) {
            QListWidgetItem *item = m_chatList->item(row);
            if (item->data(NameRole).toString() == message->chatName) {
                QFont font = item->font();
                font.setBold(true);
                item->setFont(font);
            }
        }
        return;
    }
    auto *item = new QTreeWidgetItem(m_messageView);
    item->setText(0, message->wallTime.toLocalTime().toString(u"HH:mm:ss"_s));
    item->setText(1, message->sender);
    QString body = message->body;
    if (body.size() > MessageDisplayLength)
        body = body.left(MessageDisplayLength) +
               u"… (%1 more characters)"_s.arg(body.size() - MessageDisplayLength);
    item->setText(2, body);
    item->setText(3, Protocol::messageStatusWord(message->status));
    if (message->sender == m_world->account().handle)
        item->setForeground(1, QColor(0x1d, 0x4e, 0x89));
    m_messageItems.insert(id, item);
    m_messageView->scrollToItem(item);
}

void SimWindow::updateMessage(qint64 id)
{
    QTreeWidgetItem *item = m_messageItems.value(id);
    const std::optional<Message> message = m_world->message(id);
    if (item && message)
        item->setText(3, Protocol::messageStatusWord(message->status));
}

void SimWindow::sendMessage()
{
    const QString chat = selectedChat();
    const QString text = m_messageInput->text();
    if (chat.isEmpty() || text.isEmpty())
        return;
    const QString sender = m_senderBox->currentData().toString();
    const Outcome outcome = m_world->say(sender, chat, text);
    report(outcome, u"%1 wrote in the chat"_s.arg(sender));
    if (outcome.ok())
        m_messageInput->clear();
}

void SimWindow::refreshCalls()
{
    const QList<Call> calls = m_world->calls();
    m_callTable->setRowCount(0);
    m_callTable->setRowCount(int(calls.size()));
    // Newest first: the call a person acts on is usually the last one made.
    int row = 0;
    for (auto it = calls.crbegin(); it != calls.crend(); ++it, ++row) {
        const Call &call = *it;
        const bool ended = World::isCallEnded(call.status);
        const bool incoming = call.direction == Call::Incoming;
        const bool ringing = call.status == Protocol::CallRouting || call.status == Protocol::CallRinging;
        const bool held = call.status == Protocol::CallLocalHold;

        auto setText = [&](int column, const QString &text) {
            auto *item = new QTableWidgetItem(text);
            if (ended)
                item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
            m_callTable->setItem(row, column, item);
        };
        setText(0, QString::number(call.id));
        setText(1, call.partner);
        setText(2, incoming ? u"incoming"_s : u"outgoing"_s);
        QString status =
            u"%1 (%2)"_s.arg(Protocol::callStatusText(call.status), Protocol::callStatusWord(call.status));
        if (call.confId != 0)
            status += u", conference %1"_s.arg(call.confId);
        setText(3, status);

        const qint64 id = call.id;
        auto *remote = new QWidget(m_callTable);
        auto *remoteLayout = new QHBoxLayout(remote);
        remoteLayout->setContentsMargins(2, 0, 2, 0);
        remoteLayout->setSpacing(2);
        const bool remoteRinging = ringing && !incoming;
        const std::pair<QString, std::function<Outcome()>> remoteActions[] = {
            {u"Answer"_s, [this, id] { return m_world->remoteAnswer(id); }},
            {u"Refuse"_s, [this, id] { return m_world->remoteRefuse(id); }},
            {u"Busy"_s, [this, id] { return m_world->remoteBusy(id); }},
            {u"Hang up"_s, [this, id] { return m_world->remoteHangUp(id); }},
        };
        const bool remoteEnabled[] = {remoteRinging, remoteRinging, remoteRinging, !ended};
        for (int i = 0; i < 4; ++i) {
            const auto &[text, action] = remoteActions[i];
            QToolButton *button =
                actionButton(text, u"remote"_s + QString(text).remove(u' '), remoteEnabled[i], remote);
            connect(button, &QToolButton::clicked, this, [this, text, action, id] {
                report(action(), u"Remote side: %1 on call %2"_s.arg(text.toLower()).arg(id));
            });
            remoteLayout->addWidget(button);
        }
        m_callTable->setCellWidget(row, 4, remote);

        auto *local = new QWidget(m_callTable);
        auto *localLayout = new QHBoxLayout(local);
        localLayout->setContentsMargins(2, 0, 2, 0);
        localLayout->setSpacing(2);
        const std::pair<QString, std::function<Outcome()>> localActions[] = {
            {u"Answer"_s, [this, id] { return m_world->answerCall(id); }},
            {u"Hold"_s, [this, id] { return m_world->holdCall(id); }},
            {u"Resume"_s, [this, id] { return m_world->resumeCall(id); }},
            {u"Hang up"_s, [this, id] { return m_world->hangUpCall(id); }},
        };
        const bool holdable =
            call.status == Protocol::CallInProgress || call.status == Protocol::CallRemoteHold;
        const bool localEnabled[] = {incoming && ringing, holdable, held, !ended};
        for (int i = 0; i < 4; ++i) {
            const auto &[text, action] = localActions[i];
            QToolButton *button =
                actionButton(text, u"local"_s + QString(text).remove(u' '), localEnabled[i], local);
            connect(button, &QToolButton::clicked, this, [this, text, action, id] {
                report(action(), u"You: %1 on call %2"_s.arg(text.toLower()).arg(id));
            });
            localLayout->addWidget(button);
        }
        m_callTable->setCellWidget(row, 5, local);
    }
    m_callTable->resizeRowsToContents();
}

void SimWindow::refreshContacts()
{
    const QString previousCaller = m_callerBox->currentData().toString();
    m_callerBox->clear();
    const QList<Contact> contacts = m_world->contacts();
    m_contactTable->setRowCount(int(contacts.size()));
    int row = 0;
    for (const Contact &contact : contacts) {
        const QString label =
            contact.fullName.isEmpty() ? contact.handle : u"%1 (%2)"_s.arg(contact.handle, contact.fullName);
        m_callerBox->addItem(label, contact.handle);
        m_contactTable->setItem(row, 0, new QTableWidgetItem(label));

        const QString handle = contact.handle;
        auto *kindBox = new QComboBox(m_contactTable);
        kindBox->setObjectName(u"behaviour_"_s + handle);
        kindBox->addItems({u"answers"_s, u"refuses"_s, u"is busy"_s, u"does not answer (missed)"_s,
                           u"rings for ever"_s, u"is offline"_s});
        kindBox->setCurrentIndex(int(contact.behaviour.kind));
        auto *delayBox = new QSpinBox(m_contactTable);
        delayBox->setRange(0, 600000);
        delayBox->setSingleStep(500);
        delayBox->setValue(contact.behaviour.delayMs);
        const bool timed =
            contact.behaviour.kind == Behaviour::Answer || contact.behaviour.kind == Behaviour::Refuse;
        delayBox->setEnabled(timed);
        m_contactTable->setCellWidget(row, 1, kindBox);
        m_contactTable->setCellWidget(row, 2, delayBox);

        auto apply = [this, handle, kindBox, delayBox] {
            Behaviour behaviour;
            behaviour.kind = Behaviour::Kind(kindBox->currentIndex());
            behaviour.delayMs = delayBox->value();
            // The world tells the window of the change; rebuild after this control's signal is done.
            QMetaObject::invokeMethod(
                this, [this, handle, behaviour] { m_world->setBehaviour(handle, behaviour); },
                Qt::QueuedConnection);
        };
        connect(kindBox, &QComboBox::currentIndexChanged, this, apply);
        connect(delayBox, &QSpinBox::editingFinished, this, apply);
        ++row;
    }
    const int index = m_callerBox->findData(previousCaller);
    m_callerBox->setCurrentIndex(index >= 0 ? index : 0);
    m_contactTable->resizeRowsToContents();
}

void SimWindow::refreshClients()
{
    const QStringList names = m_api->clientNames();
    m_clientsLabel->setText(
        names.isEmpty() ? u"No program is connected"_s
                        : u"Programs connected: %1 (%2)"_s.arg(names.size()).arg(names.join(u", "_s)));
}

void SimWindow::appendTraffic(const TrafficLog::Entry &entry)
{
    QString marker;
    QColor colour;
    switch (entry.kind) {
    case TrafficLog::Kind::Command:
        marker = u"→"_s;
        colour = QColor(0x1d, 0x4e, 0x89);
        break;
    case TrafficLog::Kind::Reply:
        marker = u"←"_s;
        colour = QColor(0x2e, 0x7d, 0x32);
        break;
    case TrafficLog::Kind::Notification:
        marker = u"◆"_s;
        colour = QColor(0x7b, 0x1f, 0xa2);
        break;
    case TrafficLog::Kind::Event:
        marker = u"•"_s;
        colour = QColor(0x61, 0x61, 0x61);
        break;
    }
    QString text = entry.text;
    if (text.size() > TrafficDisplayLength)
        text = text.left(TrafficDisplayLength) + u"…"_s;
    // One line per entry: a body's line feeds must not fake further entries.
    text.replace(u'\n', u"⏎"_s);
    text.replace(u'\r', u"⏎"_s);
    const QString client = entry.client.isEmpty() ? u"all"_s : entry.client;
    const QString line = u"%1  %2 %3  %4"_s.arg(entry.time.toLocalTime().toString(u"HH:mm:ss.zzz"_s), marker,
                                                client.leftJustified(8), text);

    QTextCharFormat format;
    format.setForeground(colour);
    QTextCursor cursor(m_trafficView->document());
    cursor.movePosition(QTextCursor::End);
    if (!m_trafficView->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line, format);
    m_trafficView->ensureCursorVisible();
    m_trafficView->moveCursor(QTextCursor::End);
}

void SimWindow::askAuthorization(ApiServer::ClientId client, const QString &program)
{
    // Not modal: the simulator goes on serving everyone else while the person decides.
    auto *box = new QMessageBox(QMessageBox::Question, u"skypesim"_s,
                                u"The program \"%1\" wants to use the client.\nAllow it?"_s.arg(program),
                                QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(u"authorizationBox"_s);
    box->setTextFormat(Qt::PlainText);
    box->button(QMessageBox::Yes)->setText(u"Allow"_s);
    box->button(QMessageBox::No)->setText(u"Refuse"_s);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    connect(box, &QMessageBox::finished, this, [this, client, box] {
        m_control->resolveAuthorization(client, box->clickedButton() == box->button(QMessageBox::Yes));
    });
    box->show();
}

void SimWindow::report(const Outcome &outcome, const QString &action)
{
    if (outcome.ok())
        m_statusLine->setText(action + u"."_s);
    else
        m_statusLine->setText(
            u"%1: refused — %2 (client error %3)"_s.arg(action, outcome.text).arg(outcome.code));
}
