#pragma once

#include "Applet.h"

class Register;
class Ui_SpiController;

// The chip's register map and its SPI commands: each command builds 16-bit request
// frames from the register images, sends them through SpiRaw and decodes the answers
// into the address, NM, data and status register images. Other applets write the
// images by name and run the commands; writing a field alone sends nothing.
class SpiController : public Applet
{
    Q_OBJECT
public:
    explicit SpiController(QWidget* parent = nullptr);
    ~SpiController() override;

    QVariant runFunction(const QString& name, const QVariant& args) override;
    bool initParameters() override;

    // Appends one request frame (address, WD bit, data bits 10..0) to the chain buffer.
    void addToChain(int address, int data);
    // Sends the whole chain in one board transaction, then reads and decodes one answer
    // per frame. The buffer is empty afterwards, whatever the outcome.
    bool sendChain();
    int chainLength() const { return m_chainFrames; }

    // Request frame: address in bits 15..12, the WD bit in bit 11, data in bits 10..0.
    static quint16 requestFrame(int address, unsigned int data);

public slots:
    // The chip reports its registers cleared (SR0 RCF): restore the images and the
    // user configuration, except on the simulated board.
    void on_cbSR0_10_stateChanged(int state);

private:
    void buildCommands();
    bool transferFrame(quint16 frame, quint16* answer);
    bool writeRegister(Register& reg, int address);
    bool writeHalf(int address, bool bHalf);
    bool readStatus(int number);
    bool sendChainInternal(bool clearStatus);
    void decodeAnswer(quint16 answer);
    void updateWatchDogTimeout();

    bool requestRead(const QVariant& args);
    bool readAll();
    void clearImages();

    Ui_SpiController* m_ui = nullptr;
    QString m_chain;
    int m_chainFrames = 0;
};
