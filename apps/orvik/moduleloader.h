#pragma once

#include "host/base/module.h"

#include <QLibrary>
#include <QString>

namespace ORVIK {

struct ModuleResources;

// Loads the module's library file and registers it, as the host framework does at start-up.
class ModuleLoader
{
public:
    static constexpr StringView kModuleName = "ORVIKNetwork";

    // The module file beside this program, or where it is installed.
    static QString defaultPath();

    // Loads the file, calls its entry function and finds the registered record.
    // On failure, error() says why in one line.
    bool load(const QString &path);
    const QString &error() const noexcept { return m_error; }
    const QString &path() const noexcept { return m_path; }

    // The registry's record; null before a successful load.
    const Module *module() const;
    // Resolves an exported symbol of the loaded file.
    QFunctionPointer resolve(const char *symbol);

    // The hooks that do work, called through the registered table with their own signatures.
    bool callSetupMetatypes() const;
    bool callDefineResources(ModuleResources &resources) const;

private:
    QLibrary m_library;
    QString m_path;
    QString m_error;
    bool m_loaded = false;
};

} // namespace ORVIK
