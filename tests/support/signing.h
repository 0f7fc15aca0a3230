#pragma once

// Firmware signed the way a maker signs it: with Debian's minisign, at test
// time, under a fresh key pair without a password, in a folder that goes
// with the test. Nothing secret is kept anywhere.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class Signer
{
public:
    // A key pair in `dir`: NAME.pub and NAME.key.
    explicit Signer(const QTemporaryDir &dir, const QString &name = QStringLiteral("maker"));

    // Empty when the key pair was made; else why not.
    QString error() const { return m_error; }
    QString publicKeyFile() const { return m_public; }
    // The key id as minisign prints it in the public key's comment, all 16 digits.
    QString keyId() const { return m_keyId; }

    // Signs `file` into FILE.minisig (or `signature`) with the trusted comment;
    // `whole`: the whole file signed (minisign -l), else its hash. False,
    // with error() set, when minisign fails.
    bool sign(const QString &file,
              const QString &trustedComment,
              bool whole = false,
              const QString &signature = QString());

private:
    bool run(const QStringList &arguments);

    QString m_public;
    QString m_secret;
    QString m_keyId;
    QString m_error;
};

// One part of a signature file that a test changes by one byte.
enum class SignaturePart { Signature, TrustedComment, GlobalSignature };
// Changes one byte of that part; false when the file is not as minisign writes it.
bool changeSignature(const QString &signatureFile, SignaturePart part);
// Changes one byte of a file, at `offset`.
bool changeByte(const QString &file, qint64 offset);

// Another key folder for the trusted keys while it lives, made in `folder`
// as the package makes the product's (writable by its owner alone), with
// copies of the given public key files; its files belong to the user running
// the tests. ok() is false when it could not be made.
class ScopedKeyFolder
{
public:
    explicit ScopedKeyFolder(const QString &folder, const QStringList &keys = {});
    ~ScopedKeyFolder();
    bool ok() const { return m_ok; }

private:
    bool m_ok = false;
};
