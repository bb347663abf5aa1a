#include "MdiArea.h"

#include "Applet.h"

#include <QAction>
#include <QMdiSubWindow>
#include <QShowEvent>

#include <algorithm>
#include <limits>

namespace {

// The strip of a sub-window standing at `at` that must stay in sight: its title bar.
QRect titleBarAt(const QMdiSubWindow* sub, const QPoint& at)
{
    return QRect(at, QSize(sub->width(), sub->contentsMargins().top()));
}

// The first cascade step where `sub`, on top, covers no title bar of the other open
// windows; where every step covers one, the step that covers fewest.
QPoint freeCascadePosition(const QMdiArea* area, const QMdiSubWindow* sub)
{
    QList<QRect> titleBars;
    const QList<QMdiSubWindow*> windows = area->subWindowList();
    for (const QMdiSubWindow* other : windows) {
        if (other != sub && other->isVisible())
            titleBars << titleBarAt(other, other->pos());
    }
    const int step = sub->contentsMargins().top() + 6;
    const QSize room = area->viewport()->size();
    QPoint best;
    int fewest = std::numeric_limits<int>::max();
    for (QPoint at; at == QPoint() || titleBarAt(sub, at).bottom() < room.height();
         at += QPoint(step, step)) {
        const QRect placed(at, sub->size());
        const auto covered =
            std::count_if(titleBars.cbegin(), titleBars.cend(),
                          [&placed](const QRect& t) { return placed.intersects(t); });
        if (covered < fewest) {
            fewest = int(covered);
            best = at;
        }
        if (covered == 0)
            break;
    }
    return best;
}

// Keeps the applet's window action unchecked while its window is hidden, and places
// the window where it shows its title bar the first time it opens.
class AppletSubWindow : public QMdiSubWindow
{
public:
    explicit AppletSubWindow(Applet* applet) : m_applet(applet) {}

protected:
    void showEvent(QShowEvent* event) override
    {
        QMdiSubWindow::showEvent(event);
        // Only once: shown again, a window keeps the place the user gave it.
        if (m_placed || event->spontaneous() || !mdiArea())
            return;
        m_placed = true;
        move(freeCascadePosition(mdiArea(), this));
    }

    void hideEvent(QHideEvent* event) override
    {
        if (QAction* action = m_applet->windowAction())
            action->setChecked(false);
        QMdiSubWindow::hideEvent(event);
    }

private:
    Applet* m_applet;
    bool m_placed = false;
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
