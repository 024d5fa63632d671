// The clock of the run (milliseconds since the client was built) and a short, time-ordered
// record of playback events.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <ostream>
#include <vector>

class Timeline : public QObject {
    Q_OBJECT
public:
    enum Kind { Did = 0, Will = 1 };

    struct Event {
        qint64 time; // timeline milliseconds
        Kind kind;
        QString name;
    };

    explicit Timeline(QObject* parent = nullptr);

    // Milliseconds on the monotonic clock since construction.
    Q_INVOKABLE qlonglong timestamp() const;

    void markNow(const QString& name);
    void expectIn(qint64 delay, const QString& name);
    // Inserts in time order (before events of the same time); past maxEvents the oldest
    // half is dropped, so memory stays bounded however long the run.
    void addEvent(qint64 time, Kind kind, const QString& name);
    // Time of the last event in time order with exactly this name; -1 when there is none.
    qint64 findLastEventTime(const QString& name) const;

    const std::vector<Event>& getEvents() const { return events; }

    friend std::ostream& operator<<(std::ostream& stream, const Timeline& timeline);

private:
    std::vector<Event> events;
    QElapsedTimer clock;
    size_t maxEvents = 300;
};
