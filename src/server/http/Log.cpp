#include "server/http/Log.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include <unistd.h>

namespace server {
namespace {

// Lines that arrive while the writer writes wait this long at most, then go out together.
constexpr auto batchWindow = std::chrono::milliseconds(5);
// A buffer this full is written at once, without waiting for the rest of the window.
constexpr std::size_t batchBytes = 64 * 1024;
// Past this the callers wait for the writer instead of buffering more (standard error blocked).
constexpr std::size_t pendingLimit = 8 * 1024 * 1024;

void writeAll(const std::string &bytes)
{
    const char *data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // standard error is gone: nowhere left to say so
        data += written;
        left -= std::size_t(written);
    }
}

// "2026-12-07T19:51:02.934Z" (what QDateTime's ISO format with milliseconds writes for UTC).
// Plain arithmetic: the C library's gmtime_r takes a process-wide lock on every call.
void appendTimestamp(std::string &out)
{
    using namespace std::chrono;
    const auto now = floor<milliseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date(day);
    const hh_mm_ss time(now - day);
    char text[] = "0000-00-00T00:00:00.000Z";
    const auto put = [&text](int at, long long value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + i] = char('0' + value % 10);
    };
    put(0, int(date.year()), 4);
    put(5, unsigned(date.month()), 2);
    put(8, unsigned(date.day()), 2);
    put(11, time.hours().count(), 2);
    put(14, time.minutes().count(), 2);
    put(17, time.seconds().count(), 2);
    put(20, time.subseconds().count(), 3);
    out.append(text, sizeof text - 1);
}

class LogWriter
{
public:
    // Never destroyed: request threads may log until the very end of the process.
    static LogWriter &instance()
    {
        static LogWriter *const writer = [] {
            auto *created = new LogWriter;
            std::atexit([] { instance().flush(); });
            return created;
        }();
        return *writer;
    }

    void append(std::string_view text)
    {
        std::string line;
        line.reserve(text.size() + 26);
        appendTimestamp(line);
        line += ' ';
        line += text;
        line += '\n';

        std::unique_lock lock(m_mutex);
        m_written.wait(lock, [this] { return m_pending.size() < pendingLimit; });
        m_pending += line;
        m_appended += line.size();
        if (m_idle) {
            m_idle = false;
            m_wake.notify_one();
        } else if (m_pending.size() >= batchBytes) {
            m_wake.notify_one();
        }
    }

    void flush()
    {
        std::unique_lock lock(m_mutex);
        const std::uint64_t target = m_appended;
        ++m_flushes;
        m_wake.notify_one();
        m_written.wait(lock, [this, target] { return m_writtenUpTo >= target; });
        --m_flushes;
    }

private:
    LogWriter()
    {
        std::thread([this] { run(); }).detach();
    }

    void run()
    {
        std::string batch;
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_pending.empty()) {
                m_idle = true;
                m_wake.wait(lock, [this] { return !m_pending.empty(); });
                m_idle = false;
            }
            batch.swap(m_pending);
            const std::uint64_t batchEnd = m_appended;
            lock.unlock();
            writeAll(batch);
            batch.clear();
            lock.lock();
            m_writtenUpTo = batchEnd;
            m_written.notify_all();
            // The lines of the next moment go out together.
            m_wake.wait_for(lock, batchWindow, [this] { return m_flushes > 0 || m_pending.size() >= batchBytes; });
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;    // the writer: lines after a quiet moment, a full buffer, a flush
    std::condition_variable m_written; // flushes and callers held back by the limit
    std::string m_pending;
    std::uint64_t m_appended = 0;   // bytes ever appended
    std::uint64_t m_writtenUpTo = 0; // of which written
    bool m_idle = false; // the writer waits for a first line
    int m_flushes = 0;   // flushes waiting
};

} // namespace

void logLine(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    LogWriter &writer = LogWriter::instance();
    writer.append(std::string_view(utf8.constData(), std::size_t(utf8.size())));
    writer.flush();
}

void logRequestLine(std::string_view utf8)
{
    LogWriter::instance().append(utf8);
}

void flushLog()
{
    LogWriter::instance().flush();
}

} // namespace server
