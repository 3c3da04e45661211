#include "platform/StandardErrorWriter.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include <unistd.h>

namespace
{
// Far more than the program says in a whole run; a queue this full means
// stderr has not been read for a long time.
constexpr size_t kQueueLimitBytes = 64 * 1024;

// Writes all of text unless stderr fails; a failed write is not retried.
void writeWhole (const std::string& text) noexcept
{
    const char* next = text.data();
    auto left = text.size();

    while (left > 0)
    {
        const auto written = ::write (STDERR_FILENO, next, left);

        if (written < 0 && errno == EINTR)
            continue;

        if (written <= 0)
            return;

        next += written;
        left -= (size_t) written;
    }
}

struct LineQueue
{
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::string> lines; // guarded by lock
    size_t queuedBytes = 0; // guarded by lock
    bool writing = false; // guarded by lock: a line taken from the queue is being written
    bool writerStarted = false; // guarded by lock

    void run()
    {
        std::unique_lock<std::mutex> guard (lock);

        for (;;)
        {
            changed.wait (guard, [this]
                          { return ! lines.empty(); });

            const auto text = std::move (lines.front());
            lines.pop_front();
            writing = true;
            guard.unlock();

            writeWhole (text);

            guard.lock();
            writing = false;
            queuedBytes -= text.size();
            changed.notify_all();
        }
    }
};

// Created once and never destroyed: the writer thread is detached (it may be
// stuck in a write that never returns) and uses the queue until the process ends.
LineQueue& lineQueue()
{
    static auto* const queue = new LineQueue();
    return *queue;
}
} // namespace

void StandardErrorWriter::write (const juce::String& line)
{
    std::string text (line.toRawUTF8());
    text += '\n';

    auto& queue = lineQueue();
    const std::lock_guard<std::mutex> guard (queue.lock);

    if (queue.queuedBytes + text.size() > kQueueLimitBytes)
        return;

    if (! queue.writerStarted)
    {
        try
        {
            std::thread ([&queue]
                         { queue.run(); })
                .detach();
            queue.writerStarted = true;
        }
        catch (const std::system_error&)
        {
            // No thread: the line is lost, as the next ones will be until one starts.
            return;
        }
    }

    queue.queuedBytes += text.size();
    queue.lines.push_back (std::move (text));
    queue.changed.notify_all();
}

bool StandardErrorWriter::flush (int timeoutMs)
{
    auto& queue = lineQueue();
    std::unique_lock<std::mutex> guard (queue.lock);
    return queue.changed.wait_for (guard, std::chrono::milliseconds (timeoutMs), [&queue]
                                   { return queue.lines.empty() && ! queue.writing; });
}

void StandardErrorWriter::writeAtOnce (const char* text) noexcept
{
    if (takesAShortLineWithoutWaiting() && *text != 0)
    {
        [[maybe_unused]] const auto written = ::write (STDERR_FILENO, text, std::strlen (text));
    }
}

void StandardErrorWriter::writeToOutputAtOnce (const char* text) noexcept
{
    if (takesAShortLineWithoutWaiting (true) && *text != 0)
    {
        [[maybe_unused]] const auto written = ::write (STDOUT_FILENO, text, std::strlen (text));
    }
}
