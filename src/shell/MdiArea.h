#pragma once

#include <QMdiArea>

class Applet;
class QMdiSubWindow;

// The document area of the main window. Applet windows are created hidden; closing one
// hides it, so that the applet lives on and can be shown again from the menu, and the
// window then in front becomes the active one. A window
// opening for the first time is cascaded clear of the open windows' title bars. The
// windows keep their own sizes (most are fixed): arranging them only moves them.
class MdiArea : public QMdiArea
{
    Q_OBJECT
public:
    explicit MdiArea(QWidget* parent = nullptr);

    QMdiSubWindow* addApplet(Applet* applet);
    // The open windows one title-bar step apart, in their stacking order, the active
    // window on top: every title bar shows.
    void cascadeOpenWindows();
    // The open windows side by side in rows, left to right; cascaded where the area is
    // too small to hold them so.
    void tileOpenWindows();
    // The applet of the active sub-window, or null when none is active or it is hidden.
    Applet* activeApplet() const;

private:
    QList<QMdiSubWindow*> openWindows(WindowOrder order) const;
};
