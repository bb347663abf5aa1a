#pragma once

#include <QLabel>
#include <QRect>
#include <QVector>

namespace CustomControls {

// A picture switch: a label that shows the picture of its current state and steps to
// the next state when clicked inside that state's hit rectangle. The states come
// from the model table (setModel).
class MySwitch : public QLabel
{
    Q_OBJECT
public:
    struct State
    {
        int value = 0;
        QString name;
        QString picture; // resource path
        QRect hitRect;   // in picture coordinates; a null rectangle means the whole picture
    };
    struct Model
    {
        int id = 0;
        QString name; // the symbol a description names the model by
        QVector<State> states;
    };

    explicit MySwitch(QWidget* parent = nullptr);

    // The known models; model 6 is the on/off push-button pair.
    static const QVector<Model>& modelTable();
    // The model named by its number or symbol name; null when none.
    static const Model* findModel(const QString& symbol);

    // Loads the states of one model; false (states kept) for an unknown model.
    bool setModel(int model);
    int model() const { return m_model; }
    const QVector<State>& states() const { return m_states; }
    int stateIndex() const { return m_index; }

    double value() const { return m_value; }
    // Selects the state with that value (the value is kept even when no state has it).
    void setValue(double value);

    int angle() const { return m_angle; }
    bool mirrorX() const { return m_mirrorX; }
    bool mirrorY() const { return m_mirrorY; }
    void setOrientation(int angle, bool mirrorX, bool mirrorY);

    bool isClickable() const { return m_clickable; }
    void setClickable(bool clickable) { m_clickable = clickable; }

    // The label text the switch had before its picture replaced it.
    QString labelText() const;

signals:
    void clicked();
    void stateChanged(double value);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void showState();

    int m_model = 0;
    QVector<State> m_states;
    int m_index = -1;
    double m_value = 0;
    int m_angle = 0;
    bool m_mirrorX = false;
    bool m_mirrorY = false;
    bool m_clickable = true;
    QString m_labelText;
};

} // namespace CustomControls
