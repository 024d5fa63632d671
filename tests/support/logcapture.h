// Records what goes through the leveled log while it exists.
#pragma once

#include <glog/logging.h>

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class LogCapture : public google::LogSink {
public:
    struct Line {
        google::LogSeverity severity;
        std::string file; // base name of the source file
        std::string message;
    };

    LogCapture() { google::AddLogSink(this); }
    ~LogCapture() override { google::RemoveLogSink(this); }

    void send(google::LogSeverity severity, const char*, const char* baseFile, int,
              const google::LogMessageTime&, const char* message, size_t length) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back({severity, baseFile ? baseFile : "", std::string(message, length)});
    }

    std::vector<Line> lines() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
    }

    // Messages of one severity, in order.
    std::vector<std::string> messages(google::LogSeverity severity) const
    {
        std::vector<std::string> result;
        for (const Line& line : lines())
            if (line.severity == severity)
                result.push_back(line.message);
        return result;
    }

    // "W:text" for each line, in order: compact to compare whole sequences.
    std::vector<std::string> summary() const
    {
        static const char letters[] = "IWEF";
        std::vector<std::string> result;
        for (const Line& line : lines())
            result.push_back(std::string(1, letters[line.severity & 3]) + ":" + line.message);
        return result;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
};

// Sets the VLOG verbosity while it exists.
class Verbosity {
public:
    explicit Verbosity(int level) : m_saved(FLAGS_v) { FLAGS_v = level; }
    ~Verbosity() { FLAGS_v = m_saved; }
    Verbosity(const Verbosity&) = delete;
    Verbosity& operator=(const Verbosity&) = delete;

private:
    int m_saved;
};

} // namespace testsupport
