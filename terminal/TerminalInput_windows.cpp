#include "terminal/TerminalInput.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace
{
// An answer is a word; what is longer is read to its end and cut.
constexpr size_t kLongestAnswer = 256;
} // namespace

class TerminalInput::Reader final : private juce::Thread
{
public:
    explicit Reader (Answered answeredCall)
        : juce::Thread ("TerminalInput")
        , answered (std::move (answeredCall))
    {
        if (! startThread())
            tell ({});
    }

    ~Reader() override
    {
        *alive = false;
        stopping = true;

        // The thread waits in ReadFile or ReadConsole: cancelling its read wakes it.
        for (int attempt = 0; isThreadRunning() && attempt < kCancelAttempts; ++attempt)
        {
            if (const auto handle = readerThread.load())
                ::CancelSynchronousIo (handle);

            waitForThreadToExit (kCancelPauseMs);
        }

        stopThread (-1);

        if (const auto handle = readerThread.exchange (nullptr))
            ::CloseHandle (handle);
    }

private:
    static constexpr int kCancelAttempts = 100;
    static constexpr int kCancelPauseMs = 20;

    void run() override
    {
        std::string line;
        bool cut = false;
        const auto input = ::GetStdHandle (STD_INPUT_HANDLE);
        readerThread = ::OpenThread (THREAD_TERMINATE, FALSE, ::GetCurrentThreadId());

        for (;;)
        {
            char received = 0;
            DWORD got = 0;

            if (stopping)
                return;

            // The end of the input (Ctrl+Z, a closed stdin) after text: no line was ended,
            // so the text is not an answer.
            if (input == nullptr || input == INVALID_HANDLE_VALUE || ::ReadFile (input, &received, 1, &got, nullptr) == 0 || got == 0)
            {
                if (! stopping)
                    tell (answerOf (std::move (line), false, cut));

                return;
            }

            if (received == '\n')
            {
                tell (answerOf (std::move (line), true, cut));
                return;
            }

            if (line.size() < kLongestAnswer)
                line += received;
            else
                cut = true;
        }
    }

    void tell (Answer answer)
    {
        juce::MessageManager::callAsync ([flag = alive, call = answered, answer]
                                         {
                                             if (*flag)
                                                 call (answer); });
    }

    Answered answered;
    // Read on the message thread only; the reader never looks at it.
    std::shared_ptr<bool> alive = std::make_shared<bool> (true);
    std::atomic<bool> stopping { false };
    std::atomic<HANDLE> readerThread { nullptr }; // for cancelling the read it waits in
};

TerminalInput::TerminalInput (Answered answered)
    : reader (std::make_unique<Reader> (std::move (answered)))
{
}

TerminalInput::~TerminalInput() = default;

bool TerminalInput::isTerminal() noexcept
{
    DWORD mode = 0;
    return ::GetConsoleMode (::GetStdHandle (STD_INPUT_HANDLE), &mode) != 0;
}
