#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// A named scalar parameter with type, range and description, built from a definition
// such as "@variable=ADC_Result1 @type=real @value=0 @min=0 @max=50" or from values.
class Variable : public QObject
{
    Q_OBJECT
public:
    enum Type { Undefined, Integer, Real, String };
    // Update modes: signal every write (refusals too), or only changes (default).
    enum UpdateMode { UpdateAlways = 1, UpdateOnChange = 2 };

    explicit Variable(const QString& definition);
    Variable(double value, const QString& name, const QString& description, double min, double max);
    ~Variable() override;

    QString name() const { return m_name; }
    QString description() const { return m_description; }
    QString label() const { return m_label; }
    Type type() const { return m_type; }
    double min() const { return m_min; }
    double max() const { return m_max; }
    bool isReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    int updateMode() const { return m_updateMode; }
    void setUpdateMode(int mode) { m_updateMode = mode; }

    double value() const { return m_value; }
    QByteArray text() const { return m_text; } // the value of a string variable

    // Refuses (false, value kept) a value outside [min, max], and any key but the
    // internal one on a read-only variable.
    bool setValue(double value, quint32 callerKey);
    bool setValue(int value, quint32 callerKey);
    bool setText(const QByteArray& text, quint32 callerKey);

    // setValue with the internal caller key.
    Variable& operator=(double value);

signals:
    void signal_updateSet(QString name);
    void signal_updateGet(QString name);

private:
    bool store(double value, Type writtenType, quint32 callerKey);
    bool refuse();

    QString m_name;
    QString m_description;
    QString m_label;
    Type m_type = Undefined;
    double m_value = 0.0;
    QByteArray m_text;
    double m_min;
    double m_max;
    bool m_readOnly = false;
    int m_updateMode = UpdateOnChange;
};
