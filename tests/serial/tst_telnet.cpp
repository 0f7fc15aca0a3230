// The telnet client of RFC 2217 lines on bytes written out by hand, as the
// servers in the field send them: each row fed whole and fed a byte at a
// time gives the same line bytes, the same answers and the same end.

#include "serial/telnet.h"

#include <QtTest>

namespace {

QByteArray bytes(const char *hexText)
{
    return QByteArray::fromHex(hexText);
}

// What the client asks first, and a server's agreement to all of it.
const QByteArray Start = bytes("FF FB 00  FF FD 00  FF FB 2C");
const QByteArray Agree = bytes("FF FD 00  FF FB 00  FF FD 2C");
// The client's purge and settings once COM-PORT is agreed: purge both
// buffers, 9600 baud, 8 data bits, no parity, one stop bit, no flow control.
const QByteArray Settings = bytes("FF FA 2C 0C 03 FF F0  FF FA 2C 01 00 00 25 80 FF F0"
                                  "FF FA 2C 02 08 FF F0  FF FA 2C 03 01 FF F0"
                                  "FF FA 2C 04 01 FF F0  FF FA 2C 05 01 FF F0");
const QByteArray BaudAnswer = bytes("FF FA 2C 65 00 00 25 80 FF F0");
const QByteArray OtherAnswers = bytes("FF FA 2C 66 08 FF F0  FF FA 2C 67 01 FF F0"
                                      "FF FA 2C 68 01 FF F0  FF FA 2C 69 01 FF F0");
const QByteArray Answers = BaudAnswer + OtherAnswers;
const QByteArray PurgeAnswer = bytes("FF FA 2C 70 03 FF F0");
const QByteArray Baud19200Answer = bytes("FF FA 2C 65 00 00 4B 00 FF F0");

struct Heard
{
    QByteArray data;
    QByteArray reply;
    LineCodec::State state = LineCodec::State::Agreeing;
};

Heard feed(const QByteArray &server, int piece)
{
    TelnetClient client;
    Heard heard;
    if (client.start() != Start)
        qWarning("the client's first words changed");
    for (int at = 0; at < server.size(); at += piece)
        client.take(server.constData() + at, qMin(piece, int(server.size() - at)), &heard.data,
                    &heard.reply);
    heard.state = client.state();
    return heard;
}

} // namespace

Q_DECLARE_METATYPE(LineCodec::State)

class TelnetTest : public QObject
{
    Q_OBJECT
private slots:
    void serversAreHeardWholeOrInPieces_data();
    void serversAreHeardWholeOrInPieces();
    void lineBytesTravelWithTheirFFsDoubled();
    void purgeOfTheServersOutputOnlyOnceComPortIsAgreed();
};

void TelnetTest::serversAreHeardWholeOrInPieces_data()
{
    using S = LineCodec::State;
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<S>("state");

    QTest::newRow("ser2net 4.3.1 on, the purge answered; 0xFF undoubled")
        << Agree + Answers + PurgeAnswer + bytes("01 FF FF 02") << bytes("01 FF 02") << Settings
        << S::Ready;
    QTest::newRow("ser2net 4.0 to 4.3: the purge never answered")
        << Agree + Answers + bytes("0A") << bytes("0A") << Settings << S::Ready;
    QTest::newRow("answers in another order, the purge's first")
        << Agree + PurgeAnswer + OtherAnswers + BaudAnswer << QByteArray() << Settings << S::Ready;
    QTest::newRow("a baud rate answered in eight bytes (sredird)")
        << Agree + bytes("FF FA 2C 65 00 00 25 80 00 00 00 00 FF F0") + OtherAnswers
        << QByteArray() << Settings << S::Ready;
    QTest::newRow("the server offers COM-PORT and acknowledges the refusal with WONT")
        << bytes("FF FB 2C") + Agree + bytes("FF FC 2C") + Answers << QByteArray()
        << bytes("FF FE 2C") + Settings << S::Ready;
    QTest::newRow("another option asked both ways: each direction answered, once")
        << bytes("FF FD 05  FF FB 05  FF FD 05  FF FB 05") + Agree + Answers << QByteArray()
        << bytes("FF FC 05  FF FE 05") + Settings << S::Ready;
    QTest::newRow("notifications, NOP and a cut subnegotiation ignored")
        << Agree + bytes("FF FA 2C 65 00 00 4B FF FD 07") + Answers
               + bytes("FF FA 2C 6B 30 FF F0  FF F1  0A")
        << bytes("0A") << Settings + bytes("FF FC 07") << S::Ready;
    QTest::newRow("a subnegotiation over its bound dropped")
        << Agree + bytes("FF FA 2C 65") + QByteArray(70, '\x4B') + bytes("FF F0") + Answers
        << QByteArray() << Settings << S::Ready;

    QTest::newRow("binary mode refused") << bytes("FF FC 00") << QByteArray() << QByteArray()
                                         << S::Refused;
    QTest::newRow("COM-PORT refused") << bytes("FF FD 00  FF FB 00  FF FE 2C") << QByteArray()
                                      << QByteArray() << S::Refused;
    QTest::newRow("9600 baud refused") << Agree + Baud19200Answer + OtherAnswers << QByteArray()
                                       << Settings << S::Refused;
    QTest::newRow("settings not all answered") << Agree + BaudAnswer << QByteArray() << Settings
                                               << S::Agreeing;

    QTest::newRow("binary withdrawn after the start, CR NUL after it")
        << Agree + Answers + bytes("01 02  FF FC 00  0D 00 03") << bytes("01 02")
        << Settings + bytes("FF FE 00") << S::Withdrawn;
    QTest::newRow("COM-PORT withdrawn after the start")
        << Agree + Answers + bytes("FF FE 2C  05") << QByteArray() << Settings + bytes("FF FC 2C")
        << S::Withdrawn;
    QTest::newRow("the baud rate changed after the start")
        << Agree + Answers + Baud19200Answer + bytes("07") << QByteArray() << Settings
        << S::Withdrawn;
}

void TelnetTest::serversAreHeardWholeOrInPieces()
{
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, reply);
    QFETCH(LineCodec::State, state);
    for (const int piece : {int(server.size()), 1}) {
        const Heard heard = feed(server, qMax(piece, 1));
        QCOMPARE(heard.data.toHex(' '), data.toHex(' '));
        QCOMPARE(heard.reply.toHex(' '), reply.toHex(' '));
        QCOMPARE(int(heard.state), int(state));
    }
}

void TelnetTest::lineBytesTravelWithTheirFFsDoubled()
{
    TelnetClient client;
    const QByteArray line = bytes("FF 01 FF FF 1E");
    QCOMPARE(client.encode(line.constData(), line.size()).toHex(' '),
             bytes("FF FF 01 FF FF FF FF 1E").toHex(' '));
}

// Dropping what the server holds for the line asks it to purge its transmit
// buffer, which only a server that agreed to COM-PORT can be asked.
void TelnetTest::purgeOfTheServersOutputOnlyOnceComPortIsAgreed()
{
    TelnetClient client;
    client.start();
    QVERIFY(client.purgeOutput().isEmpty());
    QByteArray data, reply;
    client.take(Agree.constData(), Agree.size(), &data, &reply);
    QCOMPARE(client.purgeOutput().toHex(' '), bytes("FF FA 2C 0C 02 FF F0").toHex(' '));
}

QTEST_GUILESS_MAIN(TelnetTest)
#include "tst_telnet.moc"
