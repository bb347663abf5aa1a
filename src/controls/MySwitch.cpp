#include "MySwitch.h"

#include <cmath>

#include <QMouseEvent>
#include <QPixmap>
#include <QTransform>

namespace CustomControls {

MySwitch::MySwitch(QWidget* parent) : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
}

const QVector<MySwitch::Model>& MySwitch::modelTable()
{
    // New models are added as rows: id, symbol name, then the states in click order.
    static const QVector<Model> table = {
        {6,
         QStringLiteral("button"),
         {{0, QStringLiteral("OFF"), QStringLiteral(":/switches/img_btn_off"), QRect()},
          {1, QStringLiteral("ON"), QStringLiteral(":/switches/img_btn_on"), QRect()}}},
    };
    return table;
}

const MySwitch::Model* MySwitch::findModel(const QString& symbol)
{
    const QString s = symbol.trimmed();
    if (s.isEmpty())
        return nullptr;
    bool isNumber = false;
    const int id = s.toInt(&isNumber);
    for (const Model& m : modelTable()) {
        if ((isNumber && m.id == id) || (!isNumber && m.name.compare(s, Qt::CaseInsensitive) == 0))
            return &m;
    }
    return nullptr;
}

bool MySwitch::setModel(int model)
{
    const Model* m = findModel(QString::number(model));
    if (!m)
        return false;
    if (m_labelText.isEmpty())
        m_labelText = text();
    m_model = model;
    m_states = m->states;
    m_index = -1;
    setValue(m_value);
    if (m_index < 0 && !m_states.isEmpty()) {
        m_index = 0;
        m_value = m_states.first().value;
    }
    showState();
    return true;
}

void MySwitch::setValue(double value)
{
    m_value = value;
    // A value between the states (a script writing 0.5 to an on/off variable) shows
    // the nearest state, and a non-zero value never shows the zero ("off") state.
    double best = -1.0;
    for (int i = 0; i < m_states.size(); ++i) {
        const double stateValue = m_states.at(i).value;
        if (stateValue == 0.0 && value != 0.0)
            continue;
        const double distance = std::fabs(stateValue - value);
        if (best < 0.0 || distance < best) {
            best = distance;
            m_index = i;
        }
    }
    showState();
}

void MySwitch::setOrientation(int angle, bool mirrorX, bool mirrorY)
{
    m_angle = angle;
    m_mirrorX = mirrorX;
    m_mirrorY = mirrorY;
    showState();
}

QString MySwitch::labelText() const
{
    return m_labelText.isEmpty() ? text() : m_labelText;
}

void MySwitch::showState()
{
    if (m_index < 0 || m_index >= m_states.size())
        return;
    QPixmap picture(m_states.at(m_index).picture);
    if (picture.isNull())
        return;
    if (m_angle != 0 || m_mirrorX || m_mirrorY) {
        QTransform t;
        t.rotate(m_angle);
        t.scale(m_mirrorX ? -1 : 1, m_mirrorY ? -1 : 1);
        picture = picture.transformed(t, Qt::SmoothTransformation);
    }
    setPixmap(picture);
}

void MySwitch::mousePressEvent(QMouseEvent* event)
{
    if (!m_clickable || m_states.isEmpty() || event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    const int current = m_index < 0 ? 0 : m_index;
    const QRect hit = m_states.at(current).hitRect;
    if (!hit.isNull()) {
        // Hit rectangles are given in picture coordinates; the picture sits centred.
        const QSize pic = pixmap().size();
        const QPoint origin((width() - pic.width()) / 2, (height() - pic.height()) / 2);
        if (!hit.contains(event->position().toPoint() - origin)) {
            QLabel::mousePressEvent(event);
            return;
        }
    }
    m_index = (current + 1) % m_states.size();
    m_value = m_states.at(m_index).value;
    showState();
    event->accept();
    emit clicked();
    emit stateChanged(m_value);
}

} // namespace CustomControls
