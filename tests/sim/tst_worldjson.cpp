// Worlds read from JSON: the example file, what a file may leave out, and clear errors for
// files that are wrong.

#include "protocol.h"
#include "world.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

class TestWorldJson final : public QObject
{
    Q_OBJECT
private slots:
    void exampleFileLoads();
    void minimalWorld();
    void loadReplacesTheWorld();
    void badFiles_data();
    void badFiles();
};

void TestWorldJson::exampleFileLoads()
{
    QFile file(QStringLiteral(LUMOTALK_WORLDS_DIR "/example.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString error;
    const std::optional<WorldSetup> setup = World::fromJson(file.readAll(), &error);
    QVERIFY2(setup, qPrintable(error));
    World world(*setup);
    QCOMPARE(world.account().handle, u"host.example"_s);
    QCOMPARE(world.contacts().size(), 6);
    QCOMPARE(world.contact(u"says.no"_s)->behaviour, (Behaviour{Behaviour::Refuse, 3000}));
    QCOMPARE(world.chats().size(), 2 + 6);
    const Chat friday = world.chats().at(0);
    QCOMPARE(friday.topic, u"Friday call"_s);
    QCOMPARE(friday.members.first(), u"host.example"_s);
    QCOMPARE(world.chats().at(1).name, u"#host.example/$00000000000000aa"_s);
    const QList<Message> messages = world.messages(friday.name);
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages.at(0).status, int(Protocol::MessageReceived));
    QCOMPARE(messages.at(1).status, int(Protocol::MessageSent));

    // Its timings are the world's: quick.answer is routed 800 ms, then answers after 500 ms.
    const qint64 id = world.placeCall({u"quick.answer"_s}).value;
    world.advanceBy(1299);
    QCOMPARE(world.call(id)->status, int(Protocol::CallRinging));
    world.advanceBy(1);
    QCOMPARE(world.call(id)->status, int(Protocol::CallInProgress));
}

void TestWorldJson::minimalWorld()
{
    QString error;
    const std::optional<WorldSetup> setup = World::fromJson(R"({"account": {"handle": "solo"}})", &error);
    QVERIFY2(setup, qPrintable(error));
    World world(*setup);
    QVERIFY(world.contacts().isEmpty());
    QVERIFY(world.chats().isEmpty());
    QCOMPARE(world.setup().ringTimeMs, 30000);
    QCOMPARE(world.execute(u"SEARCH CHATS"_s), u"CHATS "_s);
}

void TestWorldJson::loadReplacesTheWorld()
{
    World world;
    const qint64 call = world.placeCall({u"alice"_s}).value;
    QStringList heard;
    connect(&world, &World::notification, this, [&](const QString &text) { heard.append(text); });
    world.load(*World::fromJson(R"({"account": {"handle": "other"}, "contacts": [{"handle": "x1"}]})"));
    QCOMPARE(heard, QStringList{u"CALL %1 STATUS FINISHED"_s.arg(call)});
    QCOMPARE(world.execute(u"GET CURRENTUSERHANDLE"_s), u"CURRENTUSERHANDLE other"_s);
    QCOMPARE(world.contact(u"x1"_s)->behaviour, (Behaviour{Behaviour::Answer, 2000}));
    world.reset();
    QCOMPARE(world.account().handle, u"other"_s); // reset returns to the loaded world
}

void TestWorldJson::badFiles_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error"); // a part of the message that points at the fault

    QTest::newRow("empty") << QByteArray() << u"not valid JSON"_s;
    QTest::newRow("broken") << QByteArray(R"({"account": )") << u"not valid JSON at offset"_s;
    QTest::newRow("array") << QByteArray("[]") << u"must be a JSON object"_s;
    QTest::newRow("no account") << QByteArray("{}") << u"\"account\" is missing"_s;
    QTest::newRow("account not object") << QByteArray(R"({"account": 3})") << u"account: must be an object"_s;
    QTest::newRow("no handle") << QByteArray(R"({"account": {}})") << u"account: \"handle\" is missing"_s;
    QTest::newRow("bad handle") << QByteArray(R"({"account": {"handle": "a b"}})") << u"not a valid handle"_s;
    QTest::newRow("typo") << QByteArray(R"({"account": {"handle": "a"}, "contcts": []})")
                          << u"unknown key \"contcts\""_s;
    QTest::newRow("contacts not array") << QByteArray(R"({"account": {"handle": "a"}, "contacts": {}})")
                                        << u"\"contacts\" must be an array"_s;
    QTest::newRow("bad behaviour")
        << QByteArray(R"({"account": {"handle": "a"}, "contacts": [{"handle": "b", "behaviour": "dance"}]})")
        << u"contacts[0]: unknown behaviour \"dance\""_s;
    QTest::newRow("duplicate contact")
        << QByteArray(R"({"account": {"handle": "a"}, "contacts": [{"handle": "b"}, {"handle": "b"}]})")
        << u"contacts[1]: handle \"b\" is already taken"_s;
    QTest::newRow("contact is me") << QByteArray(
                                          R"({"account": {"handle": "a"}, "contacts": [{"handle": "a"}]})")
                                   << u"contacts[0]: handle \"a\" is already taken"_s;
    QTest::newRow("stranger member")
        << QByteArray(R"({"account": {"handle": "a"}, "chats": [{"members": ["zed"]}]})")
        << u"chats[0].members[0]: not a contact"_s;
    QTest::newRow("chat name blank") << QByteArray(
                                            R"({"account": {"handle": "a"}, "chats": [{"name": "#a b"}]})")
                                     << u"chats[0]: a chat name starts with #"_s;
    QTest::newRow("duplicate chat")
        << QByteArray(R"({"account": {"handle": "a"}, "chats": [{"name": "#x"}, {"name": "#x"}]})")
        << u"chats[1]: chat name \"#x\" is already taken"_s;
    QTest::newRow("message from outsider")
        << QByteArray(
               R"({"account": {"handle": "a"}, "contacts": [{"handle": "b"}], "chats": [{"messages": [{"from": "b", "body": "hi"}]}]})")
        << u"chats[0].messages[0]: \"b\" is not a member"_s;
    QTest::newRow("empty body")
        << QByteArray(R"({"account": {"handle": "a"}, "chats": [{"messages": [{"from": "a", "body": ""}]}]})")
        << u"the body is empty"_s;
    QTest::newRow("negative ring") << QByteArray(R"({"account": {"handle": "a"}, "ringTimeMs": -1})")
                                   << u"\"ringTimeMs\" must be a whole number"_s;
    QTest::newRow("fractional") << QByteArray(R"({"account": {"handle": "a"}, "sendMs": 1.5})")
                                << u"\"sendMs\" must be a whole number"_s;
    QTest::newRow("silent not bool") << QByteArray(R"({"account": {"handle": "a"}, "silentMode": "yes"})")
                                     << u"\"silentMode\" must be true or false"_s;
}

void TestWorldJson::badFiles()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    QString message;
    QVERIFY(!World::fromJson(json, &message));
    QVERIFY2(message.contains(error), qPrintable(message));
    QVERIFY(!World::fromJson(json)); // no error text wanted: no crash either
}

QTEST_APPLESS_MAIN(TestWorldJson)
#include "tst_worldjson.moc"
