#pragma once

#include <QString>

namespace ORVIK {

// What both platforms' update folders share: how names are chosen.
namespace UpdateFolderNames {

// How many names are tried before a folder or file is given up.
constexpr int kAttempts = 100;
// How much of a held file is read at a time while it is hashed.
constexpr qint64 kReadPiece = 1 << 20;

// Eight random hexadecimal digits.
QString randomSuffix();
// The name of the private folder at the given attempt.
QString folderName(int attempt);
// `name`, then "stem (2).ext", "stem (3).ext", ...
QString candidateName(const QString &name, int attempt);

} // namespace UpdateFolderNames

} // namespace ORVIK
