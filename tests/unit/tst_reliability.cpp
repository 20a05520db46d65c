// Reliability in one process: random key strings through the key translation and the board's
// key handler, a simulated day of ticks with their repaints, and OSC datagrams of every kind.
#include "windows/KeyString.h"
#include "cues/CueLinks.h"
#include "myLib.h"
#include "TestSupport.h"
#include "Window1.h"
#include "framework/Cues.h"
#include "framework/Random.h"
#include "framework/Runtime.h"
#include "framework/Text.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QTest>
#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <thread>
#include <sys/socket.h>

namespace {

std::string randomKeyString(QRandomGenerator& random)
{
    static const std::vector<std::string> pieces { "\x1b", "\xc0\x9b", "\xe0\x80\x9b", "\xf0\x80\x80\x9b", "\xc3",
        "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xff", "\x80", "\r", "\t", "\x7f", "\xc3\xa9", "\xf0\x9f\x98\x80", "a" };
    std::string key;
    const int parts = random.bounded(0, random.bounded(100) < 2 ? 4000 : 8);
    for (int i = 0; i < parts; ++i) {
        if (random.bounded(2))
            key += pieces[random.bounded(static_cast<int>(pieces.size()))];
        else
            key += static_cast<char>(random.bounded(256));
    }
    return key;
}

// The memory the program holds from the allocator. Not the resident size: under an emulator
// that is the emulator's, whose translated code grows with every path first taken.
long heapKiB()
{
    const struct mallinfo2 heap = mallinfo2();
    return static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
}

// An OSC string: its bytes, a zero, zeros to a multiple of four.
std::string oscString(const std::string& text)
{
    std::string padded = text + '\0';
    padded.resize((padded.size() + 3) / 4 * 4, '\0');
    return padded;
}

std::string oscInt(std::int32_t value)
{
    const std::uint32_t big = htonl(static_cast<std::uint32_t>(value));
    return std::string(reinterpret_cast<const char*>(&big), 4);
}

std::string oscFloat(float value)
{
    std::int32_t bits;
    std::memcpy(&bits, &value, 4);
    return oscInt(bits);
}

// A bundle whose time tag lies in the future (February 2036): its cues act at once all the same.
std::string oscBundle(const std::vector<std::string>& elements)
{
    std::string bundle = oscString("#bundle") + oscInt(-16) + oscInt(0);
    for (const std::string& element : elements)
        bundle += oscInt(static_cast<std::int32_t>(element.size())) + element;
    return bundle;
}

// A socket of the type on a free port of 127.0.0.1, and its address.
int loopbackSocket(int type, sockaddr_in& address)
{
    const int socket = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(socket, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    return socket;
}

// An MQTT packet: its type and flags, the remaining length as MQTT writes it, the rest.
std::string mqttPacket(unsigned char type, const std::string& rest)
{
    std::string packet(1, static_cast<char>(type));
    std::size_t length = rest.size();
    do {
        packet += static_cast<char>((length % 128) | (length >= 128 ? 128 : 0));
        length /= 128;
    } while (length > 0);
    return packet + rest;
}

// Reads one MQTT packet from the socket: its first byte and the rest, or -1 at the end.
int readMqttPacket(int socket, std::string& rest)
{
    unsigned char type = 0;
    if (::recv(socket, &type, 1, MSG_WAITALL) != 1)
        return -1;
    std::size_t length = 0;
    unsigned char byte = 0;
    for (int shift = 0; ::recv(socket, &byte, 1, MSG_WAITALL) == 1; shift += 7) {
        length |= std::size_t(byte & 127) << shift;
        if (!(byte & 128))
            break;
    }
    rest.assign(length, '\0');
    return length == 0 || ::recv(socket, rest.data(), length, MSG_WAITALL) == static_cast<ssize_t>(length) ? type : -1;
}

// A broker of the test's own, for one connection: takes the connection and the subscription,
// sends the packets given, then reads until the client has gone, or has sent nothing for 10 s.
void fakeBroker(int listener, std::vector<std::string> packets)
{
    const timeval bound { 10, 0 };
    ::setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    const int client = ::accept(listener, nullptr, nullptr);
    if (client < 0)
        return;
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    std::string rest;
    for (int type; (type = readMqttPacket(client, rest)) >= 0;) {
        if (type == 0x82 && rest.size() >= 2) { // SUBSCRIBE
            const std::string granted = mqttPacket(0x90, rest.substr(0, 2) + '\1');
            ::send(client, granted.data(), granted.size(), MSG_NOSIGNAL);
            for (const std::string& packet : packets)
                ::send(client, packet.data(), packet.size(), MSG_NOSIGNAL);
            packets.clear();
        } else if (type == 0x10) { // CONNECT
            ::send(client, "\x20\x02\x00\x00", 4, MSG_NOSIGNAL);
        }
    }
    ::close(client);
}

// Takes the application's cues, in order.
class CueRecorder : public fw::Application {
public:
    std::vector<std::string>& cues;
    explicit CueRecorder(std::vector<std::string>& into)
        : cues(into)
    {
    }
    void Event_Cue(const std::string& cue) override { cues.push_back(cue); }
};

#if defined(__SANITIZE_ADDRESS__)
constexpr int SimulatedTicks = 5000; // ASan keeps freed memory; LeakSanitizer watches instead
#else
constexpr int SimulatedTicks = 62000; // 24 hours at one tick every 1.4 s
#endif

}

class tst_reliability : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        myLib::InitMyLib("Velquarin Control Board");
    }
    void cleanup() { m_env.reset(); }

    void Keys_randomStringsQuitExactlyWhenTheFirstCharacterIsEscape()
    {
        QRandomGenerator random(20261207);
        int quits = 0;
        auto* board = &Window1();
        for (int i = 0; i < 100000; ++i) {
            const std::string bytes = randomKeyString(random);
            // Through the key translation, as typed text, and straight to the handler.
            const std::string translated = fw::keyString(Qt::Key_unknown, QString::fromUtf8(bytes.data(), bytes.size()));
            for (const std::string& key : { bytes, translated }) {
                const bool escapeFirst = !key.empty() && key[0] == '\x1b';
                QVERIFY(!board->Event_KeyDown(key));
                QCOMPARE(fw::Runtime::hasQuit(), escapeFirst);
                if (escapeFirst) {
                    ++quits;
                    QCOMPARE(fw::Runtime::exitStatus(), 0);
                    fw::Runtime::resetForTesting();
                    board = &Window1();
                }
            }
            // Invalid and overlong sequences read as U+FFFD, never as a control character.
            const fw::Integer code = fw::Asc(bytes);
            if (!bytes.empty() && static_cast<unsigned char>(bytes[0]) >= 0x80)
                QVERIFY(code >= 0x80);
        }
        QVERIFY(quits > 100);
    }

    void LongRun_aDayOfTicksKeepsMemoryFlatAndTheBoardRight()
    {
        auto& board = Window1();
        board.Timer1().setMode(fw::TimerMode::Off); // this test is the clock
        QApplication::processEvents();
        int draws = 0;
        fw::Random::setSource([&] {
            ++draws;
            return QRandomGenerator::global()->generateDouble();
        });
        long afterWarmUp = 0;
        for (int tick = 1; tick <= SimulatedTicks; ++tick) {
            draws = 0;
            std::vector<bool> before;
            for (int i = 0; i < 36; ++i)
                before.push_back(board.Rectangle1(i).Visible());
            board.Timer1_Action(board.Timer1());
            QApplication::processEvents(); // the repaint the tick causes
            int changed = 0;
            for (int i = 0; i < 36; ++i)
                changed += board.Rectangle1(i).Visible() != before[i];
            const int n = draws - 1;
            QVERIFY(n >= 2 && n <= 34 && changed <= n && changed % 2 == n % 2);
            if (tick == 1000)
                afterWarmUp = heapKiB();
        }
        const long growth = heapKiB() - afterWarmUp;
        qInfo("%d ticks: memory in use grew by %ld KiB after the first 1000", SimulatedTicks, growth);
#if !defined(__SANITIZE_ADDRESS__)
        QVERIFY2(growth <= 512, qPrintable(QString("grew by %1 KiB").arg(growth)));
#endif
        // What shows is what the blocks say.
        const QImage image = board.widget()->grab().toImage();
        int shown = 0;
        for (int i = 0; i < 36; ++i) {
            const Block& block = board.Rectangle1(i);
            const QPoint centre(int(block.Left() + block.Width() / 2), int(block.Top() + block.Height() / 2));
            QCOMPARE(image.pixelColor(centre) == QColor(0, 0, 0), !block.Visible());
            shown += block.Visible();
        }
        QVERIFY(shown > 0 && shown < 36);
    }

    // What comes to the board's addresses, by name or pattern, becomes its cue, with a float
    // that is a whole number as that number; what is for another board is dropped. Whatever
    // comes to the OSC port, only well-formed messages become cues: random bytes, messages cut
    // short, with their bytes changed, and bundles that lie about their sizes are dropped, and
    // the well-formed cue after them still arrives.
    void Osc_malformedDatagramsAreDroppedAndTheNextCueArrives()
    {
        std::vector<std::string> cues;
        fw::Runtime::registerApplication(std::make_unique<CueRecorder>(cues));
        sockaddr_in port {};
        ::close(loopbackSocket(SOCK_DGRAM, port)); // a free port, for the board
        const int client = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const fw::OscCues osc { "127.0.0.1", ntohs(port.sin_port), "/board/", "helm", { "go", "hold", "seed" } };
        QCOMPARE(fw::listenForOsc(osc), std::string());
        // The same port again is in use: said in one line.
        QCOMPARE(fw::listenForOsc(osc),
            "cannot listen for OSC on 127.0.0.1:" + std::to_string(ntohs(port.sin_port)) + ": the port is in use");
        const auto send = [&](const std::string& datagram) {
            ::sendto(client, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&port), sizeof port);
        };
        // What came before the start (the console waited for a screen) is dropped.
        send(oscBundle({ oscString("/board/go") + oscString(","), oscString("/board/hold") + oscString(",") }));
        fw::dropWaitingCues("that came while waiting for a screen");
        fw::startCueLinks();

        const std::string seed = oscString("/board/seed") + oscString(",i") + oscInt(42);
        send(seed);
        send(oscString("/board/seed") + oscString(",s") + oscString("4294967295"));
        send(oscBundle({ oscString("/board/hold") + oscString(","), oscBundle({ oscString("/x") + oscString(",b") + oscInt(0) }) }));
        send(oscString("/board/seed") + oscString(",f") + oscFloat(7.0f));
        send(oscString("/board/seed") + oscString(",f") + oscFloat(2.5f));
        send(oscString("/board/hold") + oscString(",fT") + oscFloat(1.0f));
        for (const char* address : { "/board/deck/go", "/board/{deck,bridge}/hold", "/board/helm/*/go", "/board/helm/go",
                 "/*/go", "/board/{helm,deck}/hold", "/board/helm" })
            send(oscString(address) + oscString(","));
        const std::vector<std::string> expected = { "seed 42", "seed 4294967295", "hold", "/x (b)", "seed 7", "seed (f)",
            "hold 1 1", "go", "go", "hold", "helm" };
        QTRY_VERIFY_WITH_TIMEOUT(cues.size() >= expected.size(), 5000);
        QCOMPARE(cues, expected);
        // Each message that reached the board answered to its sender once acted on, a ping too.
        send(oscString("/board/{helm}/ping") + oscString(","));
        const std::string state = oscString("/board/state") + oscString(",ss") + oscString("helm") + oscString("start");
        const std::string pong = oscString("/board/pong") + oscString(",ss") + oscString("helm") + oscString("start");
        std::vector<std::string> answers;
        const QDeadlineTimer deadline(5000);
        while ((answers.empty() || answers.back() != pong) && answers.size() <= 10 && !deadline.hasExpired()) {
            char answer[512];
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            const ssize_t size = ::recv(client, answer, sizeof answer, MSG_DONTWAIT);
            if (size > 0)
                answers.emplace_back(answer, static_cast<std::size_t>(size));
        }
        std::vector<std::string> answered(9, state);
        answered.push_back(pong);
        QCOMPARE(answers, answered);

        cues.clear();
        QRandomGenerator random(7);
        const std::vector<std::string> valid = { seed, oscBundle({ seed, seed }), oscBundle({ oscBundle({ seed }) }) };
        for (int packet = 0; packet < 10000; ++packet) {
            std::string datagram = valid[random.bounded(static_cast<int>(valid.size()))];
            switch (packet % 4) {
            case 0: // random bytes
                datagram.resize(random.bounded(1, 200));
                for (char& byte : datagram)
                    byte = static_cast<char>(random.bounded(256));
                break;
            case 1: // cut short, inside an element
                datagram.resize(random.bounded(1, static_cast<int>(datagram.size())));
                if (datagram.size() % 4 == 0)
                    datagram.pop_back();
                break;
            default: // a byte or two changed: some stay well-formed, and those are cues
                for (int changes = random.bounded(1, 3); changes > 0; --changes)
                    datagram[random.bounded(static_cast<int>(datagram.size()))] = static_cast<char>(random.bounded(256));
                break;
            }
            send(datagram);
            if (packet % 16 == 15) // fewer than the board reads at a turn: the port never overflows
                QCoreApplication::processEvents();
        }
        send(oscString("/board/go") + oscString(","));
        QTRY_VERIFY_WITH_TIMEOUT(!cues.empty() && cues.back() == "go", 10000);

        // An element of almost 2 GB in a bundle of 36 bytes: on a 32-bit machine liblo reads its
        // length as negative and steps that far back from the datagram to read the next one.
        cues.clear();
        send(oscString("#bundle") + oscInt(0) + oscInt(1) + oscInt(INT32_MIN + 64) + oscString("/board/hold") + oscString(","));
        send(oscString("/board/go") + oscString(","));
        QTRY_VERIFY_WITH_TIMEOUT(!cues.empty(), 5000);
        QCOMPARE(cues, std::vector<std::string> { "go" });
        fw::endCueLinks();
        ::close(client);
    }

    // What the broker sends: a payload far longer than any cue becomes its first bytes only,
    // a retained message is no cue, and the cue after them arrives.
    void Mqtt_oversizeAndRetainedPayloadsAreNoCues()
    {
        std::vector<std::string> cues;
        fw::Runtime::registerApplication(std::make_unique<CueRecorder>(cues));
        sockaddr_in address {};
        const int listener = loopbackSocket(SOCK_STREAM, address);
        QVERIFY(::listen(listener, 1) == 0);
        const std::string topic = std::string("\0\x09", 2) + "cue/topic";
        std::thread broker(fakeBroker, listener, std::vector<std::string> {
            mqttPacket(0x30, topic + "seed 1" + std::string(8 << 20, 'x')),
            mqttPacket(0x31, topic + "back-to-one"), // retained
            mqttPacket(0x30, topic + "go") });
        fw::MqttCues mqtt;
        mqtt.host = "127.0.0.1";
        mqtt.port = ntohs(address.sin_port);
        mqtt.topic = "cue/topic";
        mqtt.name = "board";
        QCOMPARE(fw::followMqtt(mqtt), std::string());
        fw::startCueLinks();
        QTRY_VERIFY_WITH_TIMEOUT(cues.size() >= 2, 10000);
        QCOMPARE(cues, (std::vector<std::string> { "seed 1" + std::string(58, 'x') + "...", "go" }));
        fw::endCueLinks();
        broker.join();
        ::close(listener);
    }

    // A broker that takes the connection and never answers it, nor the TLS handshake: the end
    // breaks into the attempt, and the connection goes with the link, not later with a thread.
    void Mqtt_theEndBreaksIntoAnAttemptNeverAnswered_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::newRow("MQTT") << false;
        QTest::newRow("MQTT over TLS") << true;
    }

    void Mqtt_theEndBreaksIntoAnAttemptNeverAnswered()
    {
        QFETCH(bool, tls);
        sockaddr_in address {};
        const int listener = loopbackSocket(SOCK_STREAM, address);
        QVERIFY(::listen(listener, 1) == 0);
        const timeval bound { 10, 0 };
        ::setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        fw::MqttCues mqtt;
        mqtt.host = "127.0.0.1";
        mqtt.port = ntohs(address.sin_port);
        mqtt.topic = "cue/topic";
        mqtt.name = "board";
        mqtt.tls = tls;
        QCOMPARE(fw::followMqtt(mqtt), std::string());
        fw::startCueLinks();
        const int client = ::accept(listener, nullptr, nullptr);
        QVERIFY(client >= 0);
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        char sent[4096];
        QVERIFY(::recv(client, sent, sizeof sent, 0) > 0); // CONNECT, or the TLS greeting
        fw::endCueLinks();
        const timeval moment { 2, 0 };
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &moment, sizeof moment);
        ssize_t got = 0;
        while ((got = ::recv(client, sent, sizeof sent, 0)) > 0) {
        }
        QCOMPARE(got, ssize_t(0));
        ::close(client);
        ::close(listener);
    }

private:
    std::unique_ptr<TestEnvironment> m_env;
};

QTEST_MAIN(tst_reliability)
#include "tst_reliability.moc"
