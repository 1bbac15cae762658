#pragma once

#include <QString>

class QAbstractButton;
class QWidget;

// What every popup window does once its form is set up: a window of fixed size
// keeps its form's size; the close button gets its picture and answers Enter;
// the window starts in the middle of the screen. The button's clicked signal is
// the window's own to connect.
enum class TPopupSize { Fixed, Sizeable };
void SetUpPopupWindow(QWidget *window, QAbstractButton *closeButton, const QString &picture, TPopupSize size);
