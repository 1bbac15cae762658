#include "PopupWindow.h"

#include "Pictures.h"
#include "WindowKit.h"

#include <QAbstractButton>
#include <QWidget>

void SetUpPopupWindow(QWidget *window, QAbstractButton *closeButton, const QString &picture, TPopupSize size)
{
    if (size == TPopupSize::Fixed)
        window->setFixedSize(window->size());
    MakePictureButton(closeButton, picture);
    closeButton->installEventFilter(new TEnterClicksFocusedButton(window));
    CentreOnScreen(window);
}
