#include "automation/EventSource.h"

#include <algorithm>

namespace zs::automation {

int EventSource::connect(Handler handler)
{
    m_handlers.emplace_back(m_nextCookie, std::move(handler));
    return m_nextCookie++;
}

void EventSource::disconnect(int cookie)
{
    std::erase_if(m_handlers, [cookie](const auto& h) { return h.first == cookie; });
}

void EventSource::raise(DispId eventId, std::span<Variant> args) const
{
    // By index and on a copy of each handler: a handler may connect or disconnect while the
    // event runs, which may move the vector.
    for (std::size_t i = 0; i < m_handlers.size(); ++i) {
        const Handler h = m_handlers[i].second;
        h(eventId, args);
    }
}

} // namespace zs::automation
