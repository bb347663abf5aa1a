#include "Logs.h"
#include "LogKind.h"

#include "ShellLog.h"

#include "ui_logs.h"

#include <QCheckBox>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QTime>

Logs::Logs(QWidget* parent) : Applet(parent), m_ui(new Ui_Logs), m_startDate(QDate::currentDate())
{
    m_ui->setupUi(this);
    connect(m_ui->pbClear, &QPushButton::clicked, this, &Logs::clear);
    connect(m_ui->cbSave, &QCheckBox::toggled, this, [this](bool on) {
        if (!setSaving(on))
            m_ui->cbSave->setChecked(false);
    });
    CommandTable& table = commandTable();
    table = CommandTable(CommandTable::Matching::Exact);
    table.add(QStringLiteral("Clear"), tr("Clears the log window"), [this](const QVariant&) {
        clear();
        return QVariant(true);
    });
}

Logs::~Logs()
{
    m_file.close();
    delete m_ui;
}

QListWidget* Logs::entryList() const
{
    return m_ui->lwLog;
}

QColor Logs::colorForType(int type)
{
    if (type < LogKind::Info)
        return QColor(Qt::red);
    if (type == LogKind::Info)
        return QColor(Qt::black);
    if (type <= 100)
        return QColor(Qt::magenta);
    const int global = type - 100;
    if (global <= Qt::transparent)
        return QColor(static_cast<Qt::GlobalColor>(global));
    return QColor(Qt::black);
}

QString Logs::fileLine(int type, const QString& time, const QString& text)
{
    return QStringLiteral("C(%1) %2 ::: %3 \n").arg(type).arg(time, text);
}

QString Logs::logFilePath() const
{
    const QDir dir(m_directory.isEmpty() ? QDir::currentPath() : m_directory);
    return dir.absoluteFilePath(m_startDate.toString(QStringLiteral("yyyyMMdd")) +
                                QStringLiteral(".log"));
}

bool Logs::setSaving(bool on)
{
    if (!on) {
        m_file.close();
        if (m_ui->cbSave->isChecked())
            m_ui->cbSave->setChecked(false);
        return true;
    }
    if (m_file.isOpen())
        return true;
    m_file.setFileName(logFilePath());
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        slot_addLog(
            -1,
            tr("Cannot write the log file %1: %2").arg(m_file.fileName(), m_file.errorString()));
        return false;
    }
    if (!m_ui->cbSave->isChecked())
        m_ui->cbSave->setChecked(true);
    return true;
}

void Logs::clear()
{
    m_ui->lwLog->clear();
}

QVariant Logs::runFunction(const QString& name, const QVariant& args)
{
    return dispatchCommand(name, args);
}

void Logs::slot_addLog(int type, QString text)
{
    if (type >= 0 && !m_commLogging)
        return;
    addAlways(type, text);
}

void Logs::addAlways(int type, const QString& text)
{
    const QString time = QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    auto* item = new QListWidgetItem(time + QLatin1Char(' ') + shown);
    item->setForeground(colorForType(type));
    item->setData(Qt::UserRole, type);
    m_ui->lwLog->addItem(item);
    while (m_ui->lwLog->count() > MaxEntries)
        delete m_ui->lwLog->takeItem(0);
    m_ui->lwLog->scrollToBottom();

    if (m_file.isOpen()) {
        const QByteArray line = fileLine(type, time, shown).toUtf8();
        if (m_file.write(line) != line.size() || !m_file.flush()) {
            const QString why = m_file.errorString();
            m_file.close();
            m_ui->cbSave->setChecked(false);
            addAlways(LogKind::Error,
                      tr("Writing the log file failed, saving stopped: %1").arg(why));
        }
    }
}
