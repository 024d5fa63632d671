#include "journalcapture.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace testsupport {

JournalCapture::JournalCapture(const std::string& socketPath)
    : m_path(socketPath)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(m_path).parent_path(), ec);
    if (ec) {
        m_error = "cannot create the directory of " + m_path + ": " + ec.message();
        return;
    }
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof(address.sun_path)) {
        m_error = "socket path too long: " + m_path;
        return;
    }
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        m_error = std::string("socket: ") + std::strerror(errno);
        return;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        m_error = "bind " + m_path + ": " + std::strerror(errno);
        ::close(fd);
        return;
    }
    m_fd = fd;
}

JournalCapture::~JournalCapture()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_path.c_str());
    }
}

std::optional<JournalEntry> JournalCapture::waitFor(const std::function<bool(const JournalEntry&)>& match,
                                                    std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    size_t checked = 0;
    for (;;) {
        for (; checked < m_entries.size(); ++checked) {
            if (match(m_entries[checked]))
                return m_entries[checked];
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !isOpen())
            return std::nullopt;
        receive(left);
    }
}

const std::vector<JournalEntry>& JournalCapture::entries()
{
    while (isOpen() && receive(std::chrono::milliseconds(0))) {
    }
    return m_entries;
}

bool JournalCapture::receive(std::chrono::milliseconds timeout)
{
    pollfd pfd = {m_fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, int(timeout.count()));
    if (ready <= 0)
        return false;

    // Peek for the size first: a datagram may be far larger than any fixed buffer.
    const ssize_t size = ::recv(m_fd, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (size < 0)
        return false;
    std::string datagram(size_t(size), '\0');
    iovec iov = {datagram.data(), datagram.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message = {};
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    if (::recvmsg(m_fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) < 0)
        return false;

    // Entries too large for one datagram arrive as a sealed memory file instead.
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        int memfd = -1;
        std::memcpy(&memfd, CMSG_DATA(c), sizeof(memfd));
        struct stat st = {};
        if (::fstat(memfd, &st) == 0) {
            datagram.assign(size_t(st.st_size), '\0');
            const ssize_t got = ::pread(memfd, datagram.data(), datagram.size(), 0);
            datagram.resize(got > 0 ? size_t(got) : 0);
        }
        ::close(memfd);
    }

    auto entry = parse(datagram);
    if (entry && !entry->empty())
        m_entries.push_back(std::move(*entry));
    return true;
}

std::optional<JournalEntry> JournalCapture::parse(const std::string& datagram)
{
    JournalEntry entry;
    size_t pos = 0;
    while (pos < datagram.size()) {
        const size_t newline = datagram.find('\n', pos);
        if (newline == std::string::npos)
            return std::nullopt;
        const size_t equals = datagram.find('=', pos);
        if (equals != std::string::npos && equals < newline) {
            if (equals == pos)
                return std::nullopt;
            entry[datagram.substr(pos, equals - pos)] = datagram.substr(equals + 1, newline - equals - 1);
            pos = newline + 1;
            continue;
        }
        // Binary-safe form: name, newline, 64-bit little-endian length, bytes, newline.
        if (newline == pos)
            return std::nullopt;
        const std::string name = datagram.substr(pos, newline - pos);
        pos = newline + 1;
        if (datagram.size() - pos < 8)
            return std::nullopt;
        uint64_t length = 0;
        for (int i = 7; i >= 0; --i)
            length = (length << 8) | uint8_t(datagram[pos + size_t(i)]);
        pos += 8;
        if (length >= datagram.size() - pos || datagram[pos + length] != '\n')
            return std::nullopt;
        entry[name] = datagram.substr(pos, length);
        pos += length + 1;
    }
    return entry;
}

std::function<bool(const JournalEntry&)> fieldIs(const std::string& name, const std::string& value)
{
    return [name, value](const JournalEntry& entry) {
        const auto it = entry.find(name);
        return it != entry.end() && it->second == value;
    };
}

} // namespace testsupport
