#include "MdiArea.h"

#include "Applet.h"

#include <QAction>
#include <QMdiSubWindow>

namespace {

// Keeps the applet's window action unchecked while its window is hidden.
class AppletSubWindow : public QMdiSubWindow
{
public:
    explicit AppletSubWindow(Applet* applet) : m_applet(applet) {}

protected:
    void hideEvent(QHideEvent* event) override
    {
        if (QAction* action = m_applet->windowAction())
            action->setChecked(false);
        QMdiSubWindow::hideEvent(event);
    }

private:
    Applet* m_applet;
};

} // namespace

MdiArea::MdiArea(QWidget* parent) : QMdiArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

QMdiSubWindow* MdiArea::addApplet(Applet* applet)
{
    // A sub-window made here (not by addSubWindow(widget)) is hidden, not deleted,
    // when the user closes it.
    auto* sub = new AppletSubWindow(applet);
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    sub->setWidget(applet);
    sub->setWindowTitle(applet->windowTitle());
    sub->setWindowIcon(applet->windowIcon());
    addSubWindow(sub);
    // Staggered, so that windows opened together do not hide each other's title.
    const int offset = 30 * ((subWindowList().size() - 1) % 8);
    sub->move(offset, offset);
    applet->applySubWindowSize(sub);
    applet->setContainer(sub);
    sub->hide();
    return sub;
}

Applet* MdiArea::activeApplet() const
{
    QMdiSubWindow* sub = activeSubWindow();
    return sub ? qobject_cast<Applet*>(sub->widget()) : nullptr;
}
