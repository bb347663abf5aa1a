#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <QWidget>

#include "CommandTable.h"

class QAction;
class Register;
class Variable;
namespace CustomControls {
class UniversalControl;
}

// Base of every tool window. Holds the parameter table (name -> register or variable
// with the controls bound to it), binds the form's CustomControls by name, and offers
// the virtual command interface used by buttons, other applets and scripting.
class Applet : public QWidget
{
    Q_OBJECT
public:
    struct Parameter
    {
        Register* reg = nullptr;
        Variable* var = nullptr;
        QList<CustomControls::UniversalControl*> controls;
    };

    explicit Applet(QWidget* parent = nullptr);
    ~Applet() override;

    // Runs once after construction: initParameters, window action, control binding,
    // signal_log to the log applet, connectSlotsByName, refresh of all controls.
    bool setup();

    bool addRegister(Register* reg, int expectedSize = -1);
    bool addVariable(Variable* var);
    bool hasParameter(const QString& name) const;
    Register* registerByName(const QString& name) const;
    Variable* variableByName(const QString& name) const;
    QStringList parameterNames() const; // in the order they were added

    // Binds one control by its binding name (see UniversalControl::bindName): command
    // buttons run their command on click; value controls show and write their entry.
    void bindControl(CustomControls::UniversalControl* control);
    // The controls bound to a parameter name (push buttons are never listed).
    QList<CustomControls::UniversalControl*> boundControls(const QString& name) const;
    // What slot_ControlTriggered does for the control that changed.
    void controlTriggered(CustomControls::UniversalControl* control);
    // Runs the transfer hook once per name at a time; a nested request for a name that
    // is in progress returns true at once.
    bool handleParameter(int direction, const QString& name);
    // handleParameter(0, name) for each name; a warning entry for each failure.
    bool writeParameters(const QStringList& names);

    void activate();
    void deactivate();
    bool isActive() const { return m_active; }
    // True while a command button's function runs (nested runs counted).
    bool isBusy() const { return m_busy > 0; }

    // The window that shows the applet (MDI sub-window or dock), set by the shell.
    QWidget* container() const { return m_container; }
    void setContainer(QWidget* container);
    QAction* windowAction() const { return m_windowAction; }
    // Shows the window, in front of the others and active.
    void showWindow();
    // Size the MDI sub-window takes, following the fixed-size flags; with both flags set
    // it offers no maximise.
    void applySubWindowSize(QWidget* subWindow) const;

    bool fixedWidth() const { return m_fixedWidth; }
    bool fixedHeight() const { return m_fixedHeight; }

    QMap<QString, QString>& functionHelpMap() { return m_functionHelp; }
    const QMap<QString, QString>& functionHelpMap() const { return m_functionHelp; }
    // The applet's named commands; runFunction dispatches through it.
    const CommandTable& commands() const { return m_commands; }

public slots:
    virtual bool setValue(const QString& name, const QVariant& value, quint32 callerKey);
    virtual QVariant getValue(const QString& name, quint32 callerKey);
    virtual QVariant runFunction(const QString& name, const QVariant& args) = 0;
    virtual bool onParameterTransfer(int direction, const QString& name);
    virtual void onDeactivate();
    virtual void onActivate();
    virtual QString parametersToText();
    virtual bool parametersFromText(const QString& text);
    virtual bool initParameters();
    virtual void setVectorData(const QString& name, const QVector<double>& data);
    virtual QVector<double> getVectorData(const QString& name);
    virtual void clearVectorData(const QString& name);
    virtual int vectorDataSize(const QString& name);

    // Receives the applets' log entries; only the log applet overrides it.
    virtual void slot_addLog(int type, QString text);

    void slot_updateSet(QString name);
    void slot_updateGet(QString name);
    void slot_updateControls(QString names);
    void slot_updateAllControls();
    // Reached by a bound control's change signal (the sender is the control).
    void slot_ControlTriggered();

signals:
    void signal_log(int type, QString text);
    void signal_RegisterChanged();

protected:
    CommandTable& commandTable() { return m_commands; }
    // Runs the command table's match for name (the usual body of runFunction).
    QVariant dispatchCommand(const QString& name, const QVariant& args);

    bool m_fixedWidth = false;
    bool m_fixedHeight = false;

private:
    template <typename T>
    bool enterParameter(const QString& name, const Parameter& entry, T* object);
    struct Binding
    {
        QString name;       // parameter table key
        QString descriptor; // register field descriptor ("CR0[3:2]"), or the name
    };

    // The field descriptor a binding name gives for a register entry.
    static QString descriptorFor(const QString& bindName, const QString& name,
                                 const QString& field);
    bool parseParameter(const QString& text, QString* name, QString* descriptor) const;
    void pushValue(CustomControls::UniversalControl* control, const Binding& binding);
    // Routes the control's changes to controlTriggered and unbinds it when it goes.
    void connectControl(CustomControls::UniversalControl* control);
    void unbindControl(CustomControls::UniversalControl* control);
    void removeParameter(const QString& name);
    // False for a document-area window that is not the open, active one.
    bool isWindowInFront() const;

    QMap<QString, Parameter> m_parameters;
    QHash<CustomControls::UniversalControl*, Binding> m_bindings;
    QHash<CustomControls::UniversalControl*, QMetaObject::Connection> m_destroyWatch;
    QStringList m_order;
    QStringList m_transfersInProgress;
    QMap<QString, QString> m_functionHelp;
    CommandTable m_commands;
    QPointer<QWidget> m_container;
    QAction* m_windowAction = nullptr;
    bool m_active = false;
    int m_busy = 0;
    bool m_setupDone = false;
};
