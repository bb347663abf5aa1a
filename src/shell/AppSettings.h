#pragma once

#include <QString>

// The settings file "rmx4218.ini" in the current directory: the Python interpreter and
// script of the "script" board, and the last folders of the file dialogs ("_Path%1").
class AppSettings
{
public:
    explicit AppSettings(const QString& directory = QString());

    QString filePath() const { return m_filePath; }

    QString pythonPath() const;
    QString scriptPath() const;
    QString folder(int index) const;
    void setFolder(int index, const QString& folder);

    // Writes the defaults of missing keys, so that the file shows what can be set.
    void writeDefaults();

    static QString defaultPythonPath();
    static QString defaultScriptPath();

private:
    QString value(const QString& key, const QString& fallback) const;

    QString m_filePath;
};
