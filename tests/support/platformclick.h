#pragma once

class QWidget;

// A left click on the middle of widget as the windowing system delivers one: pressed and released
// through the platform's event queue, and taken by the widget when the event loop next gets to
// it, behind whatever the loop is busy with. A click handed to the widget directly would hide a
// window that keeps its user's input waiting.
void platformClick(QWidget *widget);
