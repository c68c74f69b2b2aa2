#include "QtPorts.h"

#include <QCoreApplication>

namespace zs::cadenzo {

QtTimer::QtTimer(QObject* parent, std::function<void()> onTick)
    : m_timer(new QTimer(parent))
{
    QObject::connect(m_timer, &QTimer::timeout, m_timer, std::move(onTick));
}

void QtTimer::setEnabled(bool enabled)
{
    if (enabled)
        m_timer->start();
    else
        m_timer->stop();
}

void QtYield::yield()
{
    QCoreApplication::processEvents();
}

} // namespace zs::cadenzo
