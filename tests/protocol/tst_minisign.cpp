// minisign's key and signature files read from bytes, and the facts of a
// trusted comment: what minisign writes is taken field for field, anything
// else is refused with its fault, never guessed at.

#include "protocol/minisign.h"
#include "protocol/signature.h"

#include <QtTest>

using Minisign::Fault;
Q_DECLARE_METATYPE(Fault)

namespace {

// Bytes 0, 1, 2, ... of the given length, after a prefix.
QByteArray counting(const QByteArray &prefix, int length)
{
    QByteArray bytes = prefix;
    for (int i = 0; i < length; ++i)
        bytes += char(i);
    return bytes;
}

const QByteArray KeyId = QByteArray::fromHex("e3b7f5796ed67735"); // 3577D66E79F5B7E3

QByteArray signatureLine(const QByteArray &algorithm = "ED", int signatureBytes = 64)
{
    return counting(algorithm + KeyId, signatureBytes).toBase64();
}

QByteArray globalLine(int bytes = 64)
{
    return counting(QByteArray(), bytes).toBase64();
}

// A signature file as minisign writes it, with one line replaced where asked.
QByteArray signatureFile(const QList<QByteArray> &replaced = {}, const QByteArray &end = "\n")
{
    QList<QByteArray> lines{"untrusted comment: signature from minisign secret key",
                            signatureLine(),
                            "trusted comment: type=VT-TALLY-8 version=2.8",
                            globalLine()};
    for (int i = 0; i < replaced.size(); ++i) {
        if (!replaced[i].isNull())
            lines[i] = replaced[i];
    }
    return lines.join(end) + end;
}

QByteArray keyFile(const QByteArray &line,
                   const QByteArray &comment
                   = "untrusted comment: minisign public key 3577D66E79F5B7E3")
{
    return comment + "\n" + line + "\n";
}

} // namespace

class MinisignTest : public QObject
{
    Q_OBJECT
private slots:
    void signatureFileIsTakenFieldForField();
    void signatureFilesAreRefusedWithTheirFault_data();
    void signatureFilesAreRefusedWithTheirFault();
    void publicKeyFiles_data();
    void publicKeyFiles();
    void trustedCommentFacts_data();
    void trustedCommentFacts();
};

void MinisignTest::signatureFileIsTakenFieldForField()
{
    // Line ends as Windows writes them, and none after the last line, read alike.
    for (const QByteArray &file :
         {signatureFile(), signatureFile({}, "\r\n"), signatureFile().chopped(1)}) {
        const Minisign::ReadSignature read = Minisign::readSignature(file);
        QCOMPARE(read.fault, Fault::None);
        const Minisign::Signature &s = read.signature;
        QCOMPARE(s.algorithm, Minisign::Algorithm::Hashed);
        QCOMPARE(Minisign::keyIdText(s.keyId), QString("3577D66E79F5B7E3"));
        QCOMPARE(s.signature[0], quint8(0));
        QCOMPARE(s.signature[63], quint8(63));
        QCOMPARE(s.trustedComment, QByteArray("type=VT-TALLY-8 version=2.8"));
        QCOMPARE(s.globalSignature[63], quint8(63));
    }
    const Minisign::ReadSignature whole
        = Minisign::readSignature(signatureFile({QByteArray(), signatureLine("Ed")}));
    QCOMPARE(whole.fault, Fault::None);
    QCOMPARE(whole.signature.algorithm, Minisign::Algorithm::Whole);
}

void MinisignTest::signatureFilesAreRefusedWithTheirFault_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Fault>("fault");
    const QByteArray none; // keep that line
    QTest::newRow("empty") << QByteArray() << Fault::MissingLine;
    QTest::newRow("two lines") << signatureFile().left(signatureFile().indexOf("\ntrusted") + 1)
                               << Fault::MissingLine;
    QTest::newRow("no global signature")
        << signatureFile().left(signatureFile().lastIndexOf('\n', -2) + 1) << Fault::MissingLine;
    QTest::newRow("no comment prefix") << signatureFile({"comment: x"}) << Fault::NoCommentPrefix;
    QTest::newRow("comment too long")
        << signatureFile({"untrusted comment: " + QByteArray(1004, 'x')}) << Fault::CommentTooLong;
    QTest::newRow("comment with an escape")
        << signatureFile({"untrusted comment: \x1b[2J"}) << Fault::Unprintable;
    QTest::newRow("signature not base64")
        << signatureFile({none, "RUTjt/V5btZ3N!"}) << Fault::BadBase64;
    QTest::newRow("signature line empty") << signatureFile({none, ""}) << Fault::BadBase64;
    QTest::newRow("a byte short") << signatureFile({none, signatureLine("ED", 63)})
                                  << Fault::WrongLength;
    QTest::newRow("a byte over") << signatureFile({none, signatureLine("ED", 65)})
                                 << Fault::WrongLength;
    QTest::newRow("another algorithm")
        << signatureFile({none, signatureLine("Sc")}) << Fault::UnknownAlgorithm;
    QTest::newRow("no trusted comment prefix")
        << signatureFile({none, none, "comment: type=VT-TALLY-8"}) << Fault::NoTrustedCommentPrefix;
    QTest::newRow("trusted comment too long")
        << signatureFile({none, none, "trusted comment: " + QByteArray(8200, 'x')})
        << Fault::TrustedCommentTooLong;
    QTest::newRow("trusted comment not UTF-8")
        << signatureFile({none, none, "trusted comment: type=\xff"}) << Fault::Unprintable;
    QTest::newRow("trusted comment with a C1 control")
        << signatureFile({none, none, "trusted comment: version=\xc2\x9b"}) << Fault::Unprintable;
    QTest::newRow("a carriage return inside")
        << signatureFile({none, none, "trusted comment: type=VT-TALLY-8\rversion=1"})
        << Fault::Unprintable;
    QTest::newRow("global signature short")
        << signatureFile({none, none, none, globalLine(63)}) << Fault::WrongLength;
    QTest::newRow("global signature padded wrong")
        << signatureFile({none, none, none, globalLine() + "="}) << Fault::BadBase64;
    QTest::newRow("huge") << signatureFile() + QByteArray(Minisign::MaxSignatureFileBytes, '\n')
                          << Fault::TooLarge;
}

void MinisignTest::signatureFilesAreRefusedWithTheirFault()
{
    QFETCH(QByteArray, file);
    QFETCH(Fault, fault);
    QCOMPARE(Minisign::readSignature(file).fault, fault);
}

void MinisignTest::publicKeyFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Fault>("fault");
    const QByteArray key = counting("Ed" + KeyId, 32).toBase64();
    QTest::newRow("as minisign writes it") << keyFile(key) << Fault::None;
    QTest::newRow("CR LF, no end") << keyFile(key).replace("\n", "\r\n").chopped(2) << Fault::None;
    QTest::newRow("no comment") << key + "\n" << Fault::NoCommentPrefix;
    QTest::newRow("comment only") << keyFile("").chopped(1) << Fault::MissingLine;
    QTest::newRow("a signature's algorithm")
        << keyFile(counting("ED" + KeyId, 32).toBase64()) << Fault::UnknownAlgorithm;
    QTest::newRow("a byte short") << keyFile(counting("Ed" + KeyId, 31).toBase64())
                                  << Fault::WrongLength;
    QTest::newRow("not base64") << keyFile(key.left(20) + " " + key.mid(21)) << Fault::BadBase64;
    QTest::newRow("huge") << keyFile(key) + QByteArray(Minisign::MaxKeyFileBytes, '#')
                          << Fault::TooLarge;
}

void MinisignTest::publicKeyFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(Fault, fault);
    const Minisign::ReadKey read = Minisign::readPublicKey(file);
    QCOMPARE(read.fault, fault);
    if (fault != Fault::None)
        return;
    QCOMPARE(Minisign::keyIdText(read.key.id), QString("3577D66E79F5B7E3"));
    QCOMPARE(read.key.key[0], quint8(0));
    QCOMPARE(read.key.key[31], quint8(31));
    QCOMPARE(read.key.comment, QString("minisign public key 3577D66E79F5B7E3"));
}

void MinisignTest::trustedCommentFacts_data()
{
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("repeated");
    QTest::newRow("both") << QByteArray("type=VT-TALLY-8 version=2.8") << 50 << "VT-TALLY-8"
                          << "2.8"
                          << "";
    QTest::newRow("other keys, tabs, any case")
        << QByteArray("build=77\tversion=1.4  type=vt-tally-16 note=x=y") << 60 << "vt-tally-16"
        << "1.4"
        << "";
    QTest::newRow("minisign's own comment")
        << QByteArray("timestamp:1700000000\tfile:tally8.bin\thashed") << 0 << ""
        << ""
        << "";
    QTest::newRow("a type the tool does not know")
        << QByteArray("type=VT-TALLY-32") << 0 << "VT-TALLY-32"
        << ""
        << "";
    QTest::newRow("said twice alike")
        << QByteArray("type=VT-RELAY type=VT-RELAY") << 200 << "VT-RELAY"
        << ""
        << "";
    QTest::newRow("type said twice otherwise")
        << QByteArray("type=VT-TALLY-8 version=2 type=VT-TALLY-16") << 50 << "VT-TALLY-8"
        << "2"
        << "type";
    QTest::newRow("version said twice otherwise") << QByteArray("version=2 version=3") << 0 << ""
                                                  << "2"
                                                  << "version";
    QTest::newRow("empty values") << QByteArray("type= version=") << 0 << ""
                                  << ""
                                  << "";
}

void MinisignTest::trustedCommentFacts()
{
    QFETCH(QByteArray, comment);
    QFETCH(int, type);
    QFETCH(QString, typeName);
    QFETCH(QString, version);
    QFETCH(QString, repeated);
    const ImageSignature::Facts facts = ImageSignature::readFacts(comment);
    QCOMPARE(facts.type, type);
    QCOMPARE(facts.typeName, typeName);
    QCOMPARE(facts.version, version);
    QCOMPARE(facts.repeated, repeated);
}

QTEST_GUILESS_MAIN(MinisignTest)
#include "tst_minisign.moc"
