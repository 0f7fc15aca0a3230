// Reading the trusted public keys.

#include "protocol/trustedkeys.h"

#include "protocol/crypto.h"
#include "protocol/keyfolder.h"
#include "protocol/regularfile.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <mutex>
#include <optional>

namespace {

std::mutex SeamMutex;
std::optional<QString> TestFolder; // only the tests set it

// Why a key was left out, for the log.
const char *troubleText(TrustedKeys::Trouble trouble)
{
    switch (trouble) {
    case TrustedKeys::Trouble::WritableByOthers:
        return "writable by others";
    case TrustedKeys::Trouble::Unreadable:
        return "cannot be read";
    case TrustedKeys::Trouble::Malformed:
        return "no minisign public key";
    case TrustedKeys::Trouble::Unusable:
        return "no usable Ed25519 key";
    }
    return "";
}

// A problem with a key goes to the log once in a process, however often the
// keys are read.
void logOnce(const TrustedKeys::Problem &problem)
{
    static std::mutex mutex;
    static QStringList said;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (said.contains(problem.path))
            return;
        said << problem.path;
    }
    qDebug("trusted keys: %s left out (%s)",
           qUtf8Printable(QDir::toNativeSeparators(problem.path)),
           troubleText(problem.trouble));
}

// One key file; false, with the problem, when it is not taken.
bool readKey(const QString &path, TrustedKeys::Found &found, bool named)
{
    TrustedKeys::Problem problem{path, TrustedKeys::Trouble::Unreadable, {}, named};
    QByteArray bytes;
    const FileRead read = readRegularFile(path, Minisign::MaxKeyFileBytes, bytes);
    if (read == FileRead::Read) {
        const Minisign::ReadKey key = Minisign::readPublicKey(bytes);
        if (key.fault == Minisign::Fault::None && Crypto::keyUsable(key.key.key)) {
            found.keys.push_back({key.key, path});
            return true;
        }
        problem.trouble = key.fault == Minisign::Fault::None ? TrustedKeys::Trouble::Unusable
                                                             : TrustedKeys::Trouble::Malformed;
        problem.fault = key.fault;
    } else if (read == FileRead::TooLarge) {
        problem.trouble = TrustedKeys::Trouble::Malformed;
        problem.fault = Minisign::Fault::TooLarge;
    }
    found.problems.push_back(problem);
    return false;
}

void readFolder(const QString &path, bool ownUserToo, TrustedKeys::Found &found)
{
    const QDir dir(path);
    if (path.isEmpty() || !dir.exists())
        return; // no folder, no keys: an image signed by anyone is refused
    if (KeyFolder::writableByOthers(path, ownUserToo)) {
        found.problems.push_back({path, TrustedKeys::Trouble::WritableByOthers, {}, false});
        return;
    }
    const QFileInfoList files
        = dir.entryInfoList({QStringLiteral("*.pub")}, QDir::Files | QDir::Hidden, QDir::Name);
    if (!dir.isReadable())
        found.problems.push_back({path, TrustedKeys::Trouble::Unreadable, {}, false});
    for (const QFileInfo &file : files) {
        const QString name = file.filePath();
        if (KeyFolder::writableByOthers(name, ownUserToo))
            found.problems.push_back({name, TrustedKeys::Trouble::WritableByOthers, {}, false});
        else
            readKey(name, found, false);
    }
}

} // namespace

namespace TrustedKeys {

QString folder()
{
    const std::lock_guard<std::mutex> lock(SeamMutex);
    return TestFolder ? *TestFolder : KeyFolder::systemFolder();
}

Found load(const QStringList &named)
{
    bool testing = false;
    {
        const std::lock_guard<std::mutex> lock(SeamMutex);
        testing = TestFolder.has_value();
    }
    Found found;
    readFolder(folder(), testing, found);
    for (const QString &path : named)
        readKey(path, found, true);
    for (const Problem &problem : found.problems)
        logOnce(problem);
    return found;
}

} // namespace TrustedKeys

namespace TestSeam {

void setKeyFolder(const QString &folder)
{
    const std::lock_guard<std::mutex> lock(SeamMutex);
    TestFolder = folder;
}

void restoreKeyFolder()
{
    const std::lock_guard<std::mutex> lock(SeamMutex);
    TestFolder.reset();
}

} // namespace TestSeam
