#pragma once

#include "Applet.h"

#include <QColor>
#include <QDate>
#include <QFile>

class QListWidget;
class Ui_Logs;

// The log window. Errors (negative types) are always shown; other entries only while
// communication logging is on. With "Save" ticked, shown entries are also appended to
// the daily file "yyyyMMdd.log" (named by the start-up date) in the current directory.
class Logs : public Applet
{
    Q_OBJECT
public:
    static constexpr int MaxEntries = 5000;

    explicit Logs(QWidget* parent = nullptr);
    ~Logs() override;

    static QColor colorForType(int type);
    static QString fileLine(int type, const QString& time, const QString& text);

    void setCommLogging(bool on) { m_commLogging = on; }
    bool commLogging() const { return m_commLogging; }
    bool setSaving(bool on);
    bool isSaving() const { return m_file.isOpen(); }
    QString logFilePath() const;
    void setLogDirectory(const QString& directory) { m_directory = directory; }

    QListWidget* entryList() const;
    void clear();
    // An entry shown whether communication logging is on or not, as errors are.
    void addAlways(int type, const QString& text);

public slots:
    QVariant runFunction(const QString& name, const QVariant& args) override;
    void slot_addLog(int type, QString text) override;

private:
    Ui_Logs* m_ui;
    QFile m_file;
    QDate m_startDate;
    QString m_directory;
    bool m_commLogging = false;
};
