#pragma once

#include <array>

class QCheckBox;
class QLabel;
class QWidget;

// The clock pictures and pin boxes of the four generator panels on a form (Board's and
// HB Controller's). While a generator runs its pin carries the clock, so the picture
// shows and the box is locked; while it is stopped the box sets the pin's level.
class GeneratorPanels
{
public:
    GeneratorPanels(std::array<QLabel*, 4> clocks, std::array<QCheckBox*, 4> pinBoxes);

    // Builds a form into its applet and takes the panels' widgets from it (lblCLK1..4,
    // cbPWM1_DIO..4), so an applet can hold its panels from construction on.
    template <typename Form> static GeneratorPanels setUpForm(QWidget* applet, Form* ui)
    {
        ui->setupUi(applet);
        return GeneratorPanels({ui->lblCLK1, ui->lblCLK2, ui->lblCLK3, ui->lblCLK4},
                               {ui->cbPWM1_DIO, ui->cbPWM2_DIO, ui->cbPWM3_DIO, ui->cbPWM4_DIO});
    }

    // Generator n = 1..4.
    void showRunning(int n, bool running);
    QCheckBox* pinBox(int n) const;

private:
    std::array<QLabel*, 4> m_clocks;
    std::array<QCheckBox*, 4> m_pinBoxes;
};
