#pragma once

#include <QString>

namespace ORVIK {

// Why a file that the user named cannot be reached, in the words every command uses.
namespace FileAccess {

// For a path that does not show as a file: "no such file", or, when a folder on the way may not be
// entered, "the folder F may not be entered (permission denied)".
QString whyUnreachable(const QString &path);

} // namespace FileAccess

} // namespace ORVIK
