// Reading minisign's key and signature files, on bytes.

#include "protocol/minisign.h"

#include <algorithm>

namespace Minisign {

namespace {

const QByteArray CommentPrefix = QByteArrayLiteral("untrusted comment: ");
const QByteArray TrustedCommentPrefix = QByteArrayLiteral("trusted comment: ");
const QByteArray KeyAlgorithm = QByteArrayLiteral("Ed");
const QByteArray HashedAlgorithm = QByteArrayLiteral("ED");
constexpr int AlgorithmSize = 2;

// The file's lines, each without its "\n" and a "\r" before it, as minisign
// takes them. The last line may lack its "\n".
class Lines
{
public:
    explicit Lines(const QByteArray &file)
        : m_file(file)
    {}

    bool next(QByteArray &line)
    {
        if (m_pos >= m_file.size())
            return false;
        int end = m_file.indexOf('\n', m_pos);
        if (end < 0)
            end = int(m_file.size());
        line = m_file.mid(m_pos, end - m_pos);
        m_pos = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        return true;
    }

private:
    const QByteArray &m_file;
    int m_pos = 0;
};

// Text a terminal shows as it is: UTF-8, no control characters but tabs.
bool printable(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes)
        return false;
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        return c.category() == QChar::Other_Control && c != QLatin1Char('\t');
    });
}

// The first line of both files: "untrusted comment: TEXT".
Fault readComment(Lines &lines, QString &comment)
{
    QByteArray line;
    if (!lines.next(line))
        return Fault::MissingLine;
    if (!line.startsWith(CommentPrefix))
        return Fault::NoCommentPrefix;
    // minisign reads the line, its end included, into 1024 bytes with a NUL.
    if (line.size() > MaxCommentLine - 2)
        return Fault::CommentTooLong;
    const QByteArray text = line.mid(CommentPrefix.size());
    if (!printable(text))
        return Fault::Unprintable;
    comment = QString::fromUtf8(text);
    return Fault::None;
}

// A base64 line that must decode to exactly `size` bytes.
Fault readBase64(Lines &lines, int size, QByteArray &bytes)
{
    QByteArray line;
    if (!lines.next(line))
        return Fault::MissingLine;
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        line, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (line.isEmpty() || decoded.decodingStatus != QByteArray::Base64DecodingStatus::Ok)
        return Fault::BadBase64;
    if (decoded.decoded.size() != size)
        return Fault::WrongLength;
    bytes = decoded.decoded;
    return Fault::None;
}

template<size_t N>
void copyInto(std::array<quint8, N> &to, const QByteArray &from, int offset)
{
    std::copy_n(reinterpret_cast<const quint8 *>(from.constData()) + offset, N, to.begin());
}

Fault readTrustedComment(Lines &lines, QByteArray &comment)
{
    QByteArray line;
    if (!lines.next(line))
        return Fault::MissingLine;
    if (!line.startsWith(TrustedCommentPrefix))
        return Fault::NoTrustedCommentPrefix;
    if (line.size() > MaxTrustedCommentLine - 2)
        return Fault::TrustedCommentTooLong;
    comment = line.mid(TrustedCommentPrefix.size());
    return printable(comment) ? Fault::None : Fault::Unprintable;
}

} // namespace

QString keyIdText(const KeyId &id)
{
    // minisign reads the id as a little-endian number.
    QString text;
    for (auto byte = id.rbegin(); byte != id.rend(); ++byte)
        text += QString::asprintf("%02X", *byte);
    return text;
}

ReadKey readPublicKey(const QByteArray &file)
{
    ReadKey result;
    if (file.size() > MaxKeyFileBytes) {
        result.fault = Fault::TooLarge;
        return result;
    }
    Lines lines(file);
    QByteArray bytes;
    result.fault = readComment(lines, result.key.comment);
    if (result.fault == Fault::None)
        result.fault = readBase64(lines, AlgorithmSize + KeyIdSize + PublicKeySize, bytes);
    if (result.fault != Fault::None)
        return result;
    if (!bytes.startsWith(KeyAlgorithm)) {
        result.fault = Fault::UnknownAlgorithm;
        return result;
    }
    copyInto(result.key.id, bytes, AlgorithmSize);
    copyInto(result.key.key, bytes, AlgorithmSize + KeyIdSize);
    return result;
}

ReadSignature readSignature(const QByteArray &file)
{
    ReadSignature result;
    if (file.size() > MaxSignatureFileBytes) {
        result.fault = Fault::TooLarge;
        return result;
    }
    Lines lines(file);
    Signature &signature = result.signature;
    QString untrusted;
    QByteArray bytes;
    QByteArray global;
    result.fault = readComment(lines, untrusted);
    if (result.fault == Fault::None)
        result.fault = readBase64(lines, AlgorithmSize + KeyIdSize + SignatureSize, bytes);
    if (result.fault == Fault::None)
        result.fault = readTrustedComment(lines, signature.trustedComment);
    if (result.fault == Fault::None)
        result.fault = readBase64(lines, SignatureSize, global);
    if (result.fault != Fault::None)
        return result;
    if (bytes.startsWith(HashedAlgorithm)) {
        signature.algorithm = Algorithm::Hashed;
    } else if (bytes.startsWith(KeyAlgorithm)) {
        signature.algorithm = Algorithm::Whole;
    } else {
        result.fault = Fault::UnknownAlgorithm;
        return result;
    }
    copyInto(signature.keyId, bytes, AlgorithmSize);
    copyInto(signature.signature, bytes, AlgorithmSize + KeyIdSize);
    copyInto(signature.globalSignature, global, 0);
    return result;
}

} // namespace Minisign
