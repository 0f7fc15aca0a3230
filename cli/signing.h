#pragma once

// What olvex-cli says about an image's signature: in words for people, as a
// JSON object for scripts, and about keys it could not trust.

#include "cli/job.h"
#include "protocol/image.h"

#include <QJsonObject>
#include <QString>

namespace Cli {

// Why a signature refuses its image, in one line ending in the image's path.
QString signatureRefusal(const ImageSignature::Check &check, const QString &image);

// "not signed", or "signed by key 3577D66E79F5B7E3 (its comment), for
// VT-TALLY-8, version 2.8".
QString signatureSummary(const ImageSignature::Check &check);

// state ("signed", "unsigned", "refused"), and what is known of it: file,
// reason, keyId, algorithm, keyFile, keyComment, trustedComment, type,
// typeCode, version.
QJsonObject signatureJson(const ImageSignature::Check &check);

// Keys left out: a named one (--trusted-key) is a usage error, whose status
// this returns; the key folder's are warned of. ExitOk when none is wrong.
int reportKeyProblems(Job &job, const std::vector<TrustedKeys::Problem> &problems);

} // namespace Cli
