#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QVector>

// A named register made of named bit fields, built from a text definition such as
// "T_PC1[1:0]#HB1 R/F slope pre-charge time;D10=0#;" or
// "@register=DIO;@bit=EN @pin=DIO25 @value=1 @dir=OUT;".
// Values are addressed by field descriptors: "CR0[]", "CR1[8]", "CR0[9:7]", "DIO[EN]".
class Register : public QObject
{
    Q_OBJECT
public:
    // Update modes: signal every write, or only writes that change a bit (default).
    enum UpdateMode { UpdateAlways = 1, UpdateOnChange = 2 };

    struct Field
    {
        QString name;
        QString description;
        int hi = 0;
        int lo = 0;
        bool readOnly = false; // the per-field "readonly" attribute
    };

    struct FieldInfo
    {
        bool valid = false;
        QString name;        // field or bit name; "" for a numeric range that is no field
        QString description; // the field's description
        int hi = 0;
        int lo = 0;
        bool readOnly = false; // register, field or bit attribute says read-only
    };

    Register();
    explicit Register(const QString& definition, const QString& name = QString());
    Register(const Register& other);
    Register& operator=(const Register& other);
    ~Register() override;

    QString name() const { return m_name; }
    int size() const { return m_bits.size(); }
    bool isReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    int updateMode() const { return m_updateMode; }
    void setUpdateMode(int mode) { m_updateMode = mode; }

    const QVector<Field>& fields() const { return m_fields; }
    QString bitName(int index) const;
    QString bitAttribute(int index, const QString& key) const;

    // Reads the field a descriptor names; 0 when it names none.
    unsigned int getField(const QString& descriptor) const;
    // Writes the field in memory; false (and nothing changed) for an unknown field
    // or a value wider than the field. The read-only flag does not block it: it tells
    // the controls not to edit, while board answers still land in the register.
    // A descriptor without brackets addresses bit 0.
    bool setField(const QString& descriptor, unsigned int value);
    int bit(int index) const;
    // The whole register; emits signal_updateGet first.
    unsigned int value(bool lsbFirst = true);
    // Name, description, range and read-only state of the field a descriptor names.
    FieldInfo fieldInfo(const QString& descriptor) const;

    // Splits "CR0[9:7]" into "CR0" and "9:7"; false for a malformed descriptor (brackets
    // that are not one pair at the end, or a register part that is not a name).
    static bool splitDescriptor(const QString& descriptor, QString* registerName,
                                QString* selector);

signals:
    void signal_updateSet(QString name);
    void signal_updateGet(QString name);

private:
    struct Bit
    {
        QString name;
        int value = 0;
        QMap<QString, QString> attributes;
    };

    void parse(const QString& definition);
    void parseAttributeItem(const QString& item, bool first);
    void parseFieldItem(const QString& item);
    void reportFault(const QString& item, const QString& why) const;
    bool resolve(const QString& descriptor, int* hi, int* lo) const;
    int fieldIndex(const QString& name) const;
    void copyFrom(const Register& other);

    QString m_name;
    QString m_definition;
    QVector<Bit> m_bits;
    QVector<Field> m_fields;
    bool m_readOnly = false;
    int m_updateMode = UpdateOnChange;
};
