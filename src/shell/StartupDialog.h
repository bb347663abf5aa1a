#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

// The splash shown while the program starts: the logo, a progress bar and a line
// telling what is being done.
class StartupDialog : public QDialog
{
    Q_OBJECT
public:
    explicit StartupDialog(QWidget* parent = nullptr);

    void setSteps(int steps);
    // Advances one step and shows the text.
    void step(const QString& text);

private:
    QLabel* m_text;
    QProgressBar* m_bar;
};
