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
    // Frames in one board line ("set SPI0CS0DATA=02XXXX SPI0CS0DATA=02YYYY"); the board
    // queues one answer per frame until fetchAnswer takes it. Answers that earlier frames
    // left queued (a read cut short by a quit or a time-out) are fetched and dropped
    // first, so that no read takes one of them for its own; when they cannot be, the
    // frames are not sent (false).
    bool sendFrames(const QByteArray& line, int frames);
    // "get SPI0CS0DATA": the oldest queued answer, as the board's line.
    bool fetchAnswer(QByteArray* line, int timeoutMs = -1);

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
    bool dropQueuedAnswers();

    // Answers the board holds by this count. A line that reached the board is carried
    // out even when its answer did not come in time.
    int m_queuedAnswers = 0;

    Ui_SpiRaw* m_ui = nullptr;
};
