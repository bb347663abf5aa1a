#include "AppSettings.h"

#include <QDir>
#include <QSettings>

namespace {
const char* const PythonKey = "python_path";
const char* const ScriptKey = "script_path";
} // namespace

AppSettings::AppSettings(const QString& directory)
{
    // Only the file name is lower-cased: a lower-cased directory would not exist on a
    // case-sensitive file system.
    const QDir dir(directory.isEmpty() ? QDir::currentPath() : directory);
    m_filePath = dir.absoluteFilePath(QStringLiteral("RMX4218.ini").toLower());
}

QString AppSettings::defaultPythonPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:/Python27/python.exe");
#else
    return QStringLiteral("python3");
#endif
}

QString AppSettings::defaultScriptPath()
{
    return QStringLiteral("RMX4218.py");
}

QString AppSettings::pythonPath() const
{
    return QSettings(m_filePath, QSettings::IniFormat)
        .value(QLatin1String(PythonKey), defaultPythonPath())
        .toString();
}

QString AppSettings::scriptPath() const
{
    return QSettings(m_filePath, QSettings::IniFormat)
        .value(QLatin1String(ScriptKey), defaultScriptPath())
        .toString();
}

QString AppSettings::folder(int index) const
{
    return QSettings(m_filePath, QSettings::IniFormat)
        .value(QStringLiteral("_Path%1").arg(index), QDir::currentPath())
        .toString();
}

void AppSettings::setFolder(int index, const QString& folder)
{
    QSettings(m_filePath, QSettings::IniFormat)
        .setValue(QStringLiteral("_Path%1").arg(index), folder);
}

void AppSettings::writeDefaults()
{
    QSettings s(m_filePath, QSettings::IniFormat);
    if (!s.contains(QLatin1String(PythonKey)))
        s.setValue(QLatin1String(PythonKey), defaultPythonPath());
    if (!s.contains(QLatin1String(ScriptKey)))
        s.setValue(QLatin1String(ScriptKey), defaultScriptPath());
}
