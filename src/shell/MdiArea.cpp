#include "MdiArea.h"

#include "Applet.h"

#include <QAction>
#include <QCloseEvent>
#include <QMdiSubWindow>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <limits>

namespace {

// The strip of a sub-window standing at `at` that must stay in sight: its title bar.
QRect titleBarAt(const QMdiSubWindow* sub, const QPoint& at)
{
    return QRect(at, QSize(sub->width(), sub->contentsMargins().top()));
}

// Where the `n`th window of a cascade stands: one title-bar step below and right of
// the one before, so that each title bar shows above the windows after it.
QPoint cascadePosition(const QMdiSubWindow* sub, int n)
{
    const int step = sub->contentsMargins().top() + 6;
    return QPoint(n * step, n * step);
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
    const QSize room = area->viewport()->size();
    QPoint best;
    int fewest = std::numeric_limits<int>::max();
    for (int n = 0; n == 0 || titleBarAt(sub, cascadePosition(sub, n)).bottom() < room.height();
         ++n) {
        const QRect placed(cascadePosition(sub, n), sub->size());
        const auto covered =
            std::count_if(titleBars.cbegin(), titleBars.cend(),
                          [&placed](const QRect& t) { return placed.intersects(t); });
        if (covered < fewest) {
            fewest = int(covered);
            best = placed.topLeft();
        }
        if (covered == 0)
            break;
    }
    return best;
}

// Places the windows in rows, left to right, at their own sizes, within `room`;
// false, moving none, where they do not fit.
bool placeInRows(const QList<QMdiSubWindow*>& windows, const QSize& room)
{
    QList<QPoint> places;
    QPoint at;
    int rowHeight = 0;
    for (const QMdiSubWindow* sub : windows) {
        if (at.x() > 0 && at.x() + sub->width() > room.width()) {
            at = QPoint(0, at.y() + rowHeight);
            rowHeight = 0;
        }
        if (at.x() + sub->width() > room.width() || at.y() + sub->height() > room.height())
            return false;
        places << at;
        at.rx() += sub->width();
        rowHeight = std::max(rowHeight, sub->height());
    }
    for (int i = 0; i < windows.size(); ++i)
        windows[i]->move(places[i]);
    return true;
}

// Where the area has no active window in sight, the front one of those in sight becomes
// active, as closing a window does in any MDI program; with none in sight, none is.
void activateFrontWindow(QMdiArea* area)
{
    const QMdiSubWindow* active = area->activeSubWindow();
    if (active && active->isVisible())
        return;
    const QList<QMdiSubWindow*> stack = area->subWindowList(QMdiArea::StackingOrder);
    for (auto it = stack.crbegin(); it != stack.crend(); ++it) {
        if ((*it)->isVisible()) {
            area->setActiveSubWindow(*it);
            return;
        }
    }
    area->setActiveSubWindow(nullptr);
}

// Keeps the applet's window action unchecked while its window is hidden, places the
// window where it shows its title bar the first time it opens, hides it whole when it is
// closed, hands the activation on when it goes, and keeps a window that offers no
// maximise from being maximised.
class AppletSubWindow : public QMdiSubWindow
{
public:
    explicit AppletSubWindow(Applet* applet) : m_applet(applet) {}

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() != QEvent::WindowStateChange) {
            QMdiSubWindow::changeEvent(event);
            return;
        }
        {
            // Maximising, minimising and restoring hide the window for a moment; it
            // does not go for that.
            const QScopedValueRollback<bool> changing(m_changingState, true);
            QMdiSubWindow::changeEvent(event);
        }
        // The area maximises the window activated after a maximised one, whatever its
        // flags; a window that cannot grow goes back to its own size at once.
        if (!static_cast<QWindowStateChangeEvent*>(event)->isOverride() && isMaximized() &&
            !(windowFlags() & Qt::WindowMaximizeButtonHint))
            showNormal();
    }

    void showEvent(QShowEvent* event) override
    {
        QMdiSubWindow::showEvent(event);
        // Only once: shown again, a window keeps the place the user gave it.
        if (m_placed || event->spontaneous() || !mdiArea())
            return;
        m_placed = true;
        move(freeCascadePosition(mdiArea(), this));
    }

    void closeEvent(QCloseEvent* event) override
    {
        // Closed (its close button, its window menu), the window is only hidden, with the
        // applet as it is: the base class would close the applet too, and the window
        // would come back empty.
        event->accept();
    }

    void hideEvent(QHideEvent* event) override
    {
        QMdiSubWindow::hideEvent(event);
        // Hidden itself (its entry, its shortcut, its close button), not with the main
        // window nor for a moment while its state changes.
        if (!isHidden() || m_changingState)
            return;
        if (QAction* action = m_applet->windowAction())
            action->setChecked(false);
        // An active window that goes leaves the activation to the one in front.
        if (mdiArea())
            activateFrontWindow(mdiArea());
    }

private:
    Applet* m_applet;
    bool m_placed = false;
    bool m_changingState = false;
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

QList<QMdiSubWindow*> MdiArea::openWindows(WindowOrder order) const
{
    QList<QMdiSubWindow*> open = subWindowList(order);
    open.removeIf([](const QMdiSubWindow* sub) { return !sub->isVisible(); });
    return open;
}

void MdiArea::cascadeOpenWindows()
{
    QList<QMdiSubWindow*> open = openWindows(StackingOrder);
    QMdiSubWindow* active = activeSubWindow();
    if (open.removeOne(active))
        open << active;
    for (int n = 0; n < open.size(); ++n) {
        open[n]->move(cascadePosition(open[n], n));
        open[n]->raise();
    }
}

void MdiArea::tileOpenWindows()
{
    // Tallest first: each row then holds windows of like heights and leaves little gap.
    QList<QMdiSubWindow*> open = openWindows(CreationOrder);
    std::stable_sort(open.begin(), open.end(), [](const QMdiSubWindow* a, const QMdiSubWindow* b) {
        return a->height() > b->height();
    });
    if (!placeInRows(open, maximumViewportSize()))
        cascadeOpenWindows();
}

Applet* MdiArea::activeApplet() const
{
    // A hidden window may still be the area's active one; it is no window the user sees.
    QMdiSubWindow* sub = activeSubWindow();
    return sub && sub->isVisible() ? qobject_cast<Applet*>(sub->widget()) : nullptr;
}
