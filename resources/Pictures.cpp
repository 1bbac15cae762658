#include "Pictures.h"

#include <QAbstractButton>
#include <QFont>
#include <QToolButton>

QIcon Picture(const QString &name)
{
    Q_INIT_RESOURCE(pictures);
    return QIcon(QStringLiteral(":/pictures/%1.png").arg(name));
}

void MakePictureButton(QAbstractButton *button, const QString &pictureName)
{
    button->setIcon(Picture(pictureName));
    button->setIconSize(QSize(32, 32));
    button->setFixedSize(65, 57);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    button->setFont(font);
    if (auto *tool = qobject_cast<QToolButton *>(button))
        tool->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
}
