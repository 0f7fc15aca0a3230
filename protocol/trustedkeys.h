#pragma once

// The public keys this machine trusts to sign firmware: the *.pub files of
// its key folder (protocol/keyfolder.h) and those a front end names (the
// terminal tool's --trusted-key). A key that cannot be trusted is left out
// and said why, as a value.

#include "protocol/minisign.h"
#include "protocol/signature.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace TrustedKeys {

enum class Trouble {
    WritableByOthers, // the folder or the file: anyone could have put a key there
    Unreadable,       // it cannot be read (or listed)
    Malformed,        // no minisign public key (fault)
    Unusable,         // a minisign public key, but none the cryptography can take
};

struct Problem
{
    QString path;
    Trouble trouble = Trouble::Unreadable;
    Minisign::Fault fault = Minisign::Fault::None; // Malformed
    bool named = false; // a file the front end named, not one of the folder's
};

struct Found
{
    std::vector<ImageSignature::TrustedKey> keys;
    std::vector<Problem> problems;
};

// Where this machine's trusted keys go.
QString folder();

// The folder's keys, in the order of their names, then the named files.
Found load(const QStringList &named = {});

} // namespace TrustedKeys

namespace TestSeam {
// Another key folder, whose files may belong to the user running the tests;
// call only while no image is being loaded.
void setKeyFolder(const QString &folder);
void restoreKeyFolder();
} // namespace TestSeam
