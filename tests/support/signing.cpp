#include "support/signing.h"

#include "protocol/trustedkeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

Signer::Signer(const QTemporaryDir &dir, const QString &name)
    : m_public(dir.filePath(name + QStringLiteral(".pub")))
    , m_secret(dir.filePath(name + QStringLiteral(".key")))
{
    if (!run({QStringLiteral("-G"),
              QStringLiteral("-W"),
              QStringLiteral("-f"),
              QStringLiteral("-p"),
              m_public,
              QStringLiteral("-s"),
              m_secret}))
        return;
    QFile key(m_public);
    // minisign 0.11 leaves out leading zeros there; later ones write all 16 digits.
    if (key.open(QIODevice::ReadOnly))
        m_keyId = QString::fromUtf8(key.readLine())
                      .trimmed()
                      .section(QLatin1Char(' '), -1)
                      .rightJustified(16, QLatin1Char('0'));
    if (m_keyId.size() != 16)
        m_error = QStringLiteral("no key id in %1").arg(m_public);
}

bool Signer::sign(const QString &file,
                  const QString &trustedComment,
                  bool whole,
                  const QString &signature)
{
    QStringList arguments{QStringLiteral("-S"),
                          QStringLiteral("-s"),
                          m_secret,
                          QStringLiteral("-m"),
                          file,
                          QStringLiteral("-t"),
                          trustedComment};
    if (whole)
        arguments << QStringLiteral("-l");
    if (!signature.isEmpty())
        arguments << QStringLiteral("-x") << signature;
    return run(arguments);
}

bool Signer::run(const QStringList &arguments)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("minisign"));
    if (program.isEmpty()) {
        m_error = QStringLiteral("minisign not found: install minisign (scripts/setup.sh --tests)");
        return false;
    }
    QProcess minisign;
    minisign.start(program, arguments);
    minisign.closeWriteChannel(); // no password is asked for; none is given
    if (!minisign.waitForFinished(30000) || minisign.exitStatus() != QProcess::NormalExit
        || minisign.exitCode() != 0) {
        m_error = QStringLiteral("minisign %1 failed: %2")
                      .arg(arguments.join(QLatin1Char(' ')),
                           QString::fromLocal8Bit(minisign.readAllStandardError()));
        return false;
    }
    return true;
}

namespace {

bool rewrite(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(bytes) == bytes.size();
}

} // namespace

bool changeSignature(const QString &signatureFile, SignaturePart part)
{
    QFile file(signatureFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    if (lines.size() < 4)
        return false;
    const int line = part == SignaturePart::Signature        ? 1
                     : part == SignaturePart::TrustedComment ? 2
                                                             : 3;
    if (part == SignaturePart::TrustedComment) {
        QByteArray &text = lines[line];
        text[text.size() - 1] = char(text.at(text.size() - 1) ^ 0x01);
    } else {
        QByteArray bytes = QByteArray::fromBase64(lines[line]);
        bytes[bytes.size() - 1]
            = char(bytes.at(bytes.size() - 1) ^ 0x01); // in the signature proper
        lines[line] = bytes.toBase64();
    }
    return rewrite(signatureFile, lines.join('\n'));
}

bool changeByte(const QString &path, qint64 offset)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    file.close();
    if (offset >= bytes.size())
        return false;
    bytes[int(offset)] = char(bytes.at(int(offset)) ^ 0x5A);
    return rewrite(path, bytes);
}

ScopedKeyFolder::ScopedKeyFolder(const QString &folder, const QStringList &keys)
{
    m_ok = QDir().mkpath(folder)
           && QFile::setPermissions(folder,
                                    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                        | QFile::ReadOther | QFile::ExeOther);
    for (const QString &key : keys)
        m_ok = m_ok && QFile::copy(key, folder + QLatin1Char('/') + QFileInfo(key).fileName());
    TestSeam::setKeyFolder(folder);
}

ScopedKeyFolder::~ScopedKeyFolder()
{
    TestSeam::restoreKeyFolder();
}
