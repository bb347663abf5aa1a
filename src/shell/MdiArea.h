#pragma once

#include <QMdiArea>

class Applet;
class QMdiSubWindow;

// The document area of the main window. Applet windows are created hidden; closing one
// hides it, so that the applet lives on and can be shown again from the menu. A window
// opening for the first time is cascaded clear of the open windows' title bars.
class MdiArea : public QMdiArea
{
    Q_OBJECT
public:
    explicit MdiArea(QWidget* parent = nullptr);

    QMdiSubWindow* addApplet(Applet* applet);
    // The applet of the active sub-window, or null.
    Applet* activeApplet() const;
};
