#pragma once

#include <QPointer>
#include <QWidget>

class Applet;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

// The help window of an applet: lists its functions with their help texts and offers
// a run line ("command" or "command(arguments)") that runs one and shows the result.
class AppletHelper : public QWidget
{
    Q_OBJECT
public:
    explicit AppletHelper(Applet* applet, QWidget* parent = nullptr);

    Applet* applet() const;
    // Has the applet fill its help map (a run of the empty name), then lists it.
    void refresh();
    // Runs one run line; returns the text shown as the result.
    QString runLine(const QString& line);

    // "cmd(a,b)" -> cmd, "a,b"; "cmd" -> cmd, "". False for an empty command or an
    // unclosed argument list.
    static bool splitRunLine(const QString& line, QString* command, QString* args);
    static QString resultText(const QVariant& result);

    QTreeWidget* functionList() const { return m_list; }
    QLineEdit* runEdit() const { return m_runEdit; }
    QLabel* resultLabel() const { return m_result; }

private:
    void onItemActivated(QTreeWidgetItem* item);
    QString tellNotConnected();

    QPointer<Applet> m_applet;
    QTreeWidget* m_list = nullptr;
    QLineEdit* m_runEdit = nullptr;
    QLabel* m_result = nullptr;
};
