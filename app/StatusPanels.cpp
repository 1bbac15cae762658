#include "StatusPanels.h"

#include "LogTime.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QStatusBar>
#include <QTimer>

TStatusPanels::TStatusPanels(QStatusBar *bar, QObject *parent) : QObject(parent), bar_(bar)
{
    const int panelWidths[3] = {70, 400, 150};
    for (int i = 0; i < 3; ++i) {
        panels_[i] = new QLabel(bar);
        panels_[i]->setFrameShape(QFrame::Panel);
        panels_[i]->setFrameShadow(QFrame::Sunken);
        panels_[i]->setTextFormat(Qt::PlainText);
        // The empty middle panel gives way so that the clock is never cut off by the
        // status bar's own margins.
        if (i == 1) {
            panels_[i]->setMaximumWidth(panelWidths[i]);
            bar->addWidget(panels_[i], 1);
        } else {
            panels_[i]->setFixedWidth(panelWidths[i]);
            bar->addWidget(panels_[i]);
        }
    }
    panels_[0]->setAlignment(Qt::AlignCenter);
    panels_[2]->setAlignment(Qt::AlignCenter);
    panels_[0]->setText(QStringLiteral("Com1"));
    // The panels' own texts are what a screen reader reads; these only say what
    // the text is.
    panels_[0]->setAccessibleDescription(QStringLiteral("Serial port"));
    panels_[1]->setAccessibleDescription(QStringLiteral("Port state"));
    panels_[2]->setAccessibleDescription(QStringLiteral("Date and time"));

    Clock = new QTimer(this);
    Clock->setInterval(1000);
    connect(Clock, &QTimer::timeout, this, &TStatusPanels::ClockTimer);
    ClockTimer();
    Clock->start();
}

QString TStatusPanels::Text(int panel) const
{
    return panel >= 0 && panel < 3 ? panels_[panel]->text() : QString();
}

void TStatusPanels::SetPortName(const QString &name)
{
    panels_[0]->setText(name);
}

void TStatusPanels::PortLost(const QString &device)
{
    panels_[1]->setText(QStringLiteral("%1 disconnected \u2014 waiting for the radio").arg(device));
}

void TStatusPanels::PortBack()
{
    panels_[1]->clear();
}

void TStatusPanels::ShowBus(const QString &radio, const QString &broker, const QString &radioState)
{
    const QString follows = QStringLiteral("%1 via %2").arg(radio, broker);
    panels_[0]->setFixedWidth(panels_[0]->fontMetrics().horizontalAdvance(follows) + 16);
    panels_[0]->setText(follows);
    panels_[0]->setAccessibleDescription(QStringLiteral("Radio and broker"));
    if (radioState == QLatin1String("online"))
        panels_[1]->clear();
    else if (radioState == QLatin1String("no broker"))
        panels_[1]->setText(QStringLiteral("broker %1 not reached \u2014 trying again").arg(broker));
    else
        panels_[1]->setText(QStringLiteral("radio %1 %2").arg(radio, radioState));
}

void TStatusPanels::SetFeedDrops(quint64 total)
{
    if (!drops_) {
        drops_ = new QLabel(bar_);
        drops_->setFrameShape(QFrame::Panel);
        drops_->setFrameShadow(QFrame::Sunken);
        drops_->setAccessibleDescription(QStringLiteral("Feed messages dropped"));
        bar_->insertWidget(2, drops_);
    }
    drops_->setText(QStringLiteral("feed: %1 dropped").arg(total));
    drops_->setVisible(total > 0);
}

QString TStatusPanels::FeedDropsText() const
{
    return drops_ && !drops_->isHidden() ? drops_->text() : QString();
}

void TStatusPanels::ClockTimer()
{
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    QString text = locale.toString(now.date(), QLocale::ShortFormat);
    // The time part is left out at exactly midnight.
    if (now.time() != QTime(0, 0, 0))
        text += QLatin1Char(' ') + LongTimeText(now.time(), locale);
    QLabel *clock = panels_[2];
    // A label fixed in both directions asks nothing of the status bar's layout when
    // its text changes; once shown, it keeps the height the layout gave it.
    if (clock->isVisible() && clock->minimumHeight() != clock->height())
        clock->setFixedHeight(clock->height());
    clock->setText(text);
}
