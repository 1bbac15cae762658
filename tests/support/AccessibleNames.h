#pragma once

// What a screen reader hears for the controls of a window. A control that shows
// a text must be heard as that text (an accessible name set on it would hide
// it); a window as its caption; a control that shows no text of its own (an edit
// box, a list, a grid) must still have a name.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QWidget>

inline QString HeardName(QWidget *widget)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// Empty when every control of the window is heard as it should be; otherwise one
// line per control that is not.
inline QString AccessibleNameFaults(QWidget *window)
{
    QStringList faults;
    const auto expect = [&](QWidget *w, const QString &shown) {
        const QString heard = HeardName(w);
        if (heard != shown)
            faults << QStringLiteral("%1: heard \"%2\", shows \"%3\"").arg(w->objectName(), heard, shown);
    };
    expect(window, window->windowTitle());
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue; // the toolkit's own inner parts
        if (auto *button = qobject_cast<QAbstractButton *>(w); button && !button->text().isEmpty()) {
            expect(w, QString(button->text()).remove(QLatin1Char('&')));
        } else if (auto *label = qobject_cast<QLabel *>(w); label && !label->text().isEmpty()) {
            expect(w, label->text());
        } else if (auto *group = qobject_cast<QGroupBox *>(w); group && !group->title().isEmpty()) {
            expect(w, group->title());
        } else if (qobject_cast<QLineEdit *>(w) || qobject_cast<QComboBox *>(w) ||
                   qobject_cast<QAbstractScrollArea *>(w)) {
            if (HeardName(w).isEmpty())
                faults << QStringLiteral("%1: no name").arg(w->objectName());
        }
    }
    return faults.join(QLatin1Char('\n'));
}
