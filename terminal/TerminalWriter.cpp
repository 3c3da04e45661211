#include "terminal/TerminalWriter.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace
{
// Far more than a whole run says, progress redraws included; a queue this full
// means the stream has not been read for a long time.
constexpr size_t kQueueLimitBytes = 256 * 1024;
} // namespace

struct TerminalWriter::Queue
{
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::string> texts; // guarded by lock
    size_t queuedBytes = 0; // guarded by lock
    bool writing = false; // guarded by lock: a text taken from the queue is being written
    bool writerStarted = false; // guarded by lock

    void run (Stream stream)
    {
        std::unique_lock<std::mutex> guard (lock);

        for (;;)
        {
            changed.wait (guard, [this]
                          { return ! texts.empty(); });

            const auto text = std::move (texts.front());
            texts.pop_front();
            writing = true;
            guard.unlock();

            writeWhole (stream, text.data(), text.size());

            guard.lock();
            writing = false;
            queuedBytes -= text.size();
            changed.notify_all();
        }
    }
};

TerminalWriter::TerminalWriter (Stream streamToWrite)
    : stream (streamToWrite)
    , terminal (isTerminalStream (streamToWrite))
    , queue (std::make_shared<Queue>())
{
}

TerminalWriter::~TerminalWriter()
{
    flush (kLastTextWaitMs);
}

void TerminalWriter::write (const juce::String& text)
{
    std::string bytes (text.toRawUTF8());
    const std::lock_guard<std::mutex> guard (queue->lock);

    if (bytes.empty() || queue->queuedBytes + bytes.size() > kQueueLimitBytes)
        return;

    if (! queue->writerStarted)
    {
        try
        {
            // The thread shares the queue: it may outlive this writer, stuck in a write.
            std::thread ([shared = queue, s = stream]
                         { shared->run (s); })
                .detach();
            queue->writerStarted = true;
        }
        catch (const std::system_error&)
        {
            return;
        }
    }

    queue->queuedBytes += bytes.size();
    queue->texts.push_back (std::move (bytes));
    queue->changed.notify_all();
}

bool TerminalWriter::flush (int timeoutMs)
{
    std::unique_lock<std::mutex> guard (queue->lock);
    return queue->changed.wait_for (guard, std::chrono::milliseconds (timeoutMs), [this]
                                    { return queue->texts.empty() && ! queue->writing; });
}

int TerminalWriter::getColumns() const noexcept
{
    return terminal ? columnsOf (stream) : 0;
}
