#include "StartupDialog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QVBoxLayout>

StartupDialog::StartupDialog(QWidget* parent)
    : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint), m_text(new QLabel(this)),
      m_bar(new QProgressBar(this))
{
    setObjectName(QStringLiteral("StartupDialog"));
    auto* logo = new QLabel(this);
    logo->setPixmap(QPixmap(QStringLiteral(":/images/QRV_Logo.png")));
    logo->setAlignment(Qt::AlignCenter);
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(logo);
    layout->addWidget(m_bar);
    layout->addWidget(m_text);
}

void StartupDialog::setSteps(int steps)
{
    m_bar->setRange(0, steps);
    m_bar->setValue(0);
}

void StartupDialog::step(const QString& text)
{
    m_bar->setValue(qMin(m_bar->value() + 1, m_bar->maximum()));
    m_text->setText(text);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
