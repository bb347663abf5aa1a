#include "AppletHelper.h"

#include "Applet.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

AppletHelper::AppletHelper(Applet* applet, QWidget* parent) : QWidget(parent), m_applet(applet)
{
    setWindowTitle(applet ? tr("%1 functions").arg(applet->objectName()) : tr("Functions"));

    m_list = new QTreeWidget(this);
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({tr("Function"), tr("Help")});
    m_list->setRootIsDecorated(false);
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

    m_runEdit = new QLineEdit(this);
    m_runEdit->setPlaceholderText(tr("command(arguments)"));
    auto* runButton = new QPushButton(tr("Run"), this);
    m_result = new QLabel(this);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* runRow = new QHBoxLayout;
    runRow->addWidget(m_runEdit, 1);
    runRow->addWidget(runButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(runRow);
    layout->addWidget(m_result);

    connect(m_list, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item, int) { onItemActivated(item); });
    connect(runButton, &QPushButton::clicked, this, [this] { runLine(m_runEdit->text()); });
    connect(m_runEdit, &QLineEdit::returnPressed, this, [this] { runLine(m_runEdit->text()); });

    refresh();
}

Applet* AppletHelper::applet() const
{
    return m_applet;
}

void AppletHelper::refresh()
{
    m_list->clear();
    if (!m_applet)
        return;
    m_applet->runFunction(QString(), QVariant(QString()));
    const QMap<QString, QString>& help = m_applet->functionHelpMap();
    for (auto it = help.cbegin(); it != help.cend(); ++it)
        new QTreeWidgetItem(m_list, {it.key(), it.value()});
    // Commands without a help text are listed all the same, so every one can be run.
    for (const QString& name : m_applet->commands().names()) {
        if (!help.contains(name))
            new QTreeWidgetItem(m_list, {name, QString()});
    }
}

void AppletHelper::onItemActivated(QTreeWidgetItem* item)
{
    if (item)
        m_runEdit->setText(item->text(0));
}

bool AppletHelper::splitRunLine(const QString& line, QString* command, QString* args)
{
    const QString t = line.trimmed();
    const int open = t.indexOf(QLatin1Char('('));
    QString c;
    QString a;
    if (open < 0) {
        c = t;
    } else {
        if (!t.endsWith(QLatin1Char(')')))
            return false;
        c = t.left(open).trimmed();
        a = t.mid(open + 1, t.size() - open - 2).trimmed();
    }
    if (c.isEmpty() || c.contains(QLatin1Char(' ')))
        return false;
    *command = c;
    *args = a;
    return true;
}

QString AppletHelper::resultText(const QVariant& result)
{
    if (!result.isValid())
        return tr("no result");
    if (result.typeId() == QMetaType::Bool)
        return result.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (result.canConvert<QString>())
        return result.toString();
    return QString::fromLatin1(result.typeName());
}

QString AppletHelper::tellNotConnected()
{
    const QString text =
        tr("Board is not connected.\nChoose a port in the main window's tool bar and press Open.");
    // Not modal to the program: the help window may be scripted or tested headless.
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return text;
}

QString AppletHelper::runLine(const QString& line)
{
    QString command;
    QString args;
    QString text;
    if (!m_applet)
        text = tr("No applet");
    else if (!splitRunLine(line, &command, &args))
        text = tr("Not a command line: %1").arg(line);
    else if (!m_applet->isActive())
        text = tellNotConnected(); // applets are active only while a board is connected
    else
        text = QStringLiteral("%1 -> %2")
                   .arg(command, resultText(m_applet->runFunction(command, args)));
    m_result->setText(text);
    return text;
}
