#include "timeline.h"

#include "logging.h"

#include <algorithm>

Timeline::Timeline(QObject* parent)
    : QObject(parent)
{
    events.reserve(maxEvents);
    clock.start();
}

qlonglong Timeline::timestamp() const
{
    return clock.elapsed();
}

void Timeline::markNow(const QString& name)
{
    addEvent(timestamp(), Did, name);
}

void Timeline::expectIn(qint64 delay, const QString& name)
{
    addEvent(timestamp() + delay, Will, name);
}

void Timeline::addEvent(qint64 time, Kind kind, const QString& name)
{
    const auto position = std::lower_bound(events.begin(), events.end(), time,
                                           [](const Event& event, qint64 t) { return event.time < t; });
    events.insert(position, Event{time, kind, name});
    if (events.size() > maxEvents) {
        const size_t dropped = events.size() / 2;
        events.erase(events.begin(), events.begin() + std::ptrdiff_t(dropped));
    }
}

qint64 Timeline::findLastEventTime(const QString& name) const
{
    const auto found = std::find_if(events.rbegin(), events.rend(), [&](const Event& event) { return event.name == name; });
    return found == events.rend() ? -1 : found->time;
}

std::ostream& operator<<(std::ostream& stream, const Timeline& timeline)
{
    stream << "Timeline ";
    for (const Timeline::Event& event : timeline.events)
        stream << event.time << ":\t" << (event.kind == Timeline::Did ? "did" : "will") << " " << event.name << "\n";
    return stream;
}
