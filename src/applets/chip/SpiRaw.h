#pragma once

#include "Applet.h"

class QByteArray;
class Ui_SpiRaw;

// Raw 16-bit SPI transfers to the chip and the SPI clock of the board. Every chip
// register access of SpiController goes through transfer().
class SpiRaw : public Applet
{
    Q_OBJECT
public:
    explicit SpiRaw(QWidget* parent = nullptr);
    ~SpiRaw() override;

    // One frame to the chip and its answer back: "set SPI0CS0DATA=02XXXX", then
    // "get SPI0CS0DATA". False (answer untouched) when either transaction fails, no
    // board link exists, or the answer is not four hex digits.
    bool transfer(quint16 frame, quint16* answer);

    // Reads an answer frame: exactly four hex digits, blanks around them ignored.
    static bool parseFrame(const QByteArray& text, quint16* frame);
    // "02" (the byte count) followed by the frame as four hex digits.
    static QString frameValue(quint16 frame);

    QVariant runFunction(const QString& name, const QVariant& args) override;
    bool onParameterTransfer(int direction, const QString& name) override;
    bool initParameters() override;

private:
    bool sendFrame(const QVariant& args);
    bool sendClock();

    Ui_SpiRaw* m_ui = nullptr;
};
