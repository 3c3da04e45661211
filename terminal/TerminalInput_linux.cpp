#include "terminal/TerminalInput.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace
{
// An answer is a word; what is longer is read to its end and cut.
constexpr size_t kLongestAnswer = 256;
constexpr int kWaitWithoutLimit = -1;
} // namespace

class TerminalInput::Reader final : private juce::Thread
{
public:
    explicit Reader (Answered answeredCall)
        : juce::Thread ("TerminalInput")
        , answered (std::move (answeredCall))
    {
        if (::pipe2 (wake.data(), O_CLOEXEC | O_NONBLOCK) != 0 || ! startThread())
            tell ({});
    }

    ~Reader() override
    {
        *alive = false;

        if (wake[1] >= 0)
        {
            [[maybe_unused]] const auto written = ::write (wake[1], "x", 1);
        }

        stopThread (-1);

        for (auto fd : wake)
            if (fd >= 0)
                ::close (fd);
    }

private:
    void run() override
    {
        std::string line;
        bool cut = false;
        std::array<pollfd, 2> watched { pollfd { STDIN_FILENO, POLLIN, 0 }, pollfd { wake[0], POLLIN, 0 } };

        for (;;)
        {
            if (::poll (watched.data(), watched.size(), kWaitWithoutLimit) < 0)
            {
                if (errno == EINTR)
                    continue;

                tell ({});
                return;
            }

            if (watched[1].revents != 0)
                return;

            // One byte at a time: what follows the line stays in stdin for whoever reads next.
            char byte = 0;
            const auto got = ::read (STDIN_FILENO, &byte, 1);

            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;

            // The end of the input (or a terminal that went away) after text: no line was
            // ended, so the text is not an answer (it may be a "y" the user never confirmed).
            if (got <= 0)
            {
                tell (answerOf (std::move (line), false, cut));
                return;
            }

            if (byte == '\n')
            {
                tell (answerOf (std::move (line), true, cut));
                return;
            }

            if (line.size() < kLongestAnswer)
                line += byte;
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
    std::array<int, 2> wake { -1, -1 };
};

TerminalInput::TerminalInput (Answered answered)
    : reader (std::make_unique<Reader> (std::move (answered)))
{
}

TerminalInput::~TerminalInput() = default;

bool TerminalInput::isTerminal() noexcept
{
    return ::isatty (STDIN_FILENO) == 1;
}
