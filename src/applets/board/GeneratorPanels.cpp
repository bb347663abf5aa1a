#include "GeneratorPanels.h"

#include <QCheckBox>
#include <QLabel>

GeneratorPanels::GeneratorPanels(std::array<QLabel*, 4> clocks, std::array<QCheckBox*, 4> pinBoxes)
    : m_clocks(clocks), m_pinBoxes(pinBoxes)
{
}

void GeneratorPanels::showRunning(int n, bool running)
{
    m_clocks.at(n - 1)->setStyleSheet(
        running ? QStringLiteral("image: url(:/board/img_signal_clock.png)") : QString());
    m_pinBoxes.at(n - 1)->setEnabled(!running);
}

QCheckBox* GeneratorPanels::pinBox(int n) const
{
    return m_pinBoxes.at(n - 1);
}
