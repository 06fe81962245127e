#pragma once

#include <QString>

namespace ORVIK {

// Where orvik finds the module and its plug-ins: beside itself in the build tree, otherwise in the
// installed library folder, given relative to the program's folder so that any prefix works.
class ProgramFolders
{
public:
    static QString moduleFile();
    static QString pluginFile(const char *pluginName);
};

} // namespace ORVIK
