#include "AppSettings.h"

#include <QDir>
#include <QSettings>

namespace {
const char* const PythonKey = "python_path";
const char* const ScriptKey = "script_path";
} // namespace

AppSettings::AppSettings(const QString& directory)
{
    const QDir dir(directory.isEmpty() ? QDir::currentPath() : directory);
    m_filePath = dir.absoluteFilePath(QStringLiteral("rmx4218.ini"));
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

QString AppSettings::value(const QString& key, const QString& fallback) const
{
    return QSettings(m_filePath, QSettings::IniFormat).value(key, fallback).toString();
}

QString AppSettings::pythonPath() const
{
    return value(QLatin1String(PythonKey), defaultPythonPath());
}

QString AppSettings::scriptPath() const
{
    return value(QLatin1String(ScriptKey), defaultScriptPath());
}

QString AppSettings::folder(int index) const
{
    return value(QStringLiteral("_Path%1").arg(index), QDir::currentPath());
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
