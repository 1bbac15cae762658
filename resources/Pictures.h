#pragma once

#include <QIcon>
#include <QString>

class QAbstractButton;

// The console's button pictures, shipped inside the program as a Qt resource so
// that they look the same with or without an icon theme.
// Names: see pictures/*.png (e.g. "connect", "ok", "cancel", "exit").
QIcon Picture(const QString &name);

// Makes a 65 x 57 picture button: a 32 x 32 picture above the caption, caption
// font Arial 12 px. Works for QToolButton (text under icon) and QPushButton.
void MakePictureButton(QAbstractButton *button, const QString &pictureName);
