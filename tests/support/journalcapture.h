// Plays the systemd journal for tests: owns the journal's native socket and turns the
// datagrams that libsystemd sends there into entries. Run the test under
// tests/with-private-journal.sh so that the socket path is not the host's.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// One journal entry: field name to value.
using JournalEntry = std::map<std::string, std::string>;

class JournalCapture {
public:
    static constexpr const char* defaultSocketPath = "/run/systemd/journal/socket";

    // Binds the socket, creating its directory. An existing socket is left alone, so
    // that a run outside the private namespace cannot take over the host's journal.
    explicit JournalCapture(const std::string& socketPath = defaultSocketPath);
    ~JournalCapture();
    JournalCapture(const JournalCapture&) = delete;
    JournalCapture& operator=(const JournalCapture&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    // Why the socket could not be bound.
    const std::string& error() const { return m_error; }

    // The first entry received so far or arriving within the timeout that matches.
    std::optional<JournalEntry> waitFor(const std::function<bool(const JournalEntry&)>& match,
                                        std::chrono::milliseconds timeout);
    // Everything received so far, after taking in what is waiting on the socket.
    const std::vector<JournalEntry>& entries();

    // One datagram in the native protocol; nothing if it is malformed.
    static std::optional<JournalEntry> parse(const std::string& datagram);

private:
    // Takes in at most one datagram, waiting up to the timeout for it.
    bool receive(std::chrono::milliseconds timeout);

    std::string m_path;
    std::string m_error;
    int m_fd = -1;
    std::vector<JournalEntry> m_entries;
};

// A match on one field's exact value, for waitFor.
std::function<bool(const JournalEntry&)> fieldIs(const std::string& name, const std::string& value);

} // namespace testsupport
