#pragma once

#include "app/SleepInhibitor.h"
#include "device/HidCtrl.h"
#include "text/TxtLoader.h"
#include "ui/AlineButton.h"
#include "ui/LangLookAndFeel.h"
#include "ui/ProgressLookAndFeel.h"
#include "ui/SupportLog.h"
#include "update/Protocol.h"
#include "update/Status.h"
#include "update/UpdateFileSearch.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>

/**
    The updater's one window content: it shows the screens, owns the device link
    and is itself the update worker thread "UpdatingThread".

    Threads: everything runs on the message thread except run() and what it
    calls. The worker and the message thread share the status (atomic, with the
    sticky removal rule), the progress (the worker publishes it, the message
    thread copies it into the value the progress bar reads), the display flags
    (atomics), and the reply: the message thread copies a reply into inReport
    under replyLock and signals replyEvent; the worker takes it from there. A
    removal during the controller check sets an atomic flag before it signals
    replyEvent, so the waiting query ends at once as one without reply. The
    checked image is read-only once the worker runs.
*/
class MainComponent final : public juce::Component,
                            public juce::AsyncUpdater,
                            public juce::Thread,
                            public HidHandler,
                            public juce::ComboBox::Listener,
                            public juce::Button::Listener
{
public:
    MainComponent();
    ~MainComponent() override;

    //==============================================================================
    // The user's actions, message thread.

    /** The main button on the language screen: searches and checks the update file
        and, with the controller connected, starts the worker's controller check.
        Does nothing while the worker already runs. Failures end in the status. */
    void startCheck();

    /** The same, searching another folder than the usual places (tests, tools). */
    void startCheck (const juce::File& folder);

    /** The same, searching the given places in order. */
    void startCheck (const std::vector<UpdateFilePlace>& places);

    /** Where the main button looks for the update file: the executable's folder, the
        current folder and the download folder unless the program or a test says
        otherwise. Message thread, before the first press. */
    void setUpdateFilePlaces (std::vector<UpdateFilePlace> places) { updateFilePlaces = std::move (places); }

    /** Makes folder the only place the main button looks in (tests, tools). */
    void setUpdateFileFolder (const juce::File& folder) { updateFilePlaces = { { folder, false } }; }

    /** The main button on the ready screen ("Start"): lets the worker write the update.
        Does nothing in any other status. */
    void startUpdate();

    /** Stops the worker (waking a pending wait at once) and asks the application to quit. */
    void closeApplication();

    /** Searches the update file's places for the newest update file and checks it;
        the outcome is in the status, fileState, fileStamp, fileVersion and regions,
        and in the support log. */
    void findUpdateFile();

    /** The same search in another folder (tests, tools). */
    void findUpdateFile (const juce::File& folder);

    /** The same search in the given places. */
    void findUpdateFile (const std::vector<UpdateFilePlace>& places);

    //==============================================================================
    /** Rebuilds the screen for the current status: its text, the controls shown,
        their captions and places. An unchanged screen keeps its text layout.
        Message thread. */
    void updateDisplay();

    /** Sets the status under the writing rule: ERR_DEVICE_REMOVED is never replaced. Any thread. */
    void setStatus (int32_t newStatus) noexcept { status.set (newStatus); }

    /** The current status. Any thread. */
    int32_t getStatus() const noexcept { return status.get(); }

    /** Shortens the wait for a reply (tests); the default is kReplyTimeoutMs. Before the worker starts. */
    void setReplyTimeoutMs (int milliseconds) noexcept { replyTimeoutMs = milliseconds; }

    /** Decides the wait for each request's reply from the request's 64 bytes (tests that
        time out one chosen request while every other one keeps the full wait). Without a
        rule every request waits the time set above. Called on the worker thread; set it
        before the worker starts. */
    using ReplyTimeoutRule = std::function<int (const uint8_t* request)>;
    void setReplyTimeoutRule (ReplyTimeoutRule rule) { replyTimeoutRule = std::move (rule); }

    /** Shortens the overall time a block may be polled while the controller answers busy
        (tests); the default is kBusyPollLimitMs. Before the worker starts. */
    void setBusyPollLimitMs (int milliseconds) noexcept { busyPollLimitMs = milliseconds; }

    /** The sum of the bytes as unsigned values, the block checksum the controller checks. */
    static uint32_t byteSum (const uint8_t* bytes, size_t count) noexcept;

    //==============================================================================
    // What the screens and the tests read: message thread, or any thread once the worker has ended.
    double getProgress() const noexcept { return progress; }
    double getWorkerProgress() const noexcept { return workerProgress.load(); }
    int64_t getTotalBytes() const noexcept { return totalBytes; }
    uint32_t getDeviceStamp() const noexcept { return deviceStamp; }
    uint32_t getFileStamp() const noexcept { return file.fileStamp; }
    const juce::String& getDeviceVersion() const noexcept { return deviceVersion; }
    const juce::String& getFileVersion() const noexcept { return file.fileVersion; }
    int32_t getFileState() const noexcept { return file.fileState; }
    int32_t getCurrentRegion() const noexcept { return currentRegion.load(); }
    bool isFullUpdate() const noexcept { return fullUpdate.load(); }
    bool isCompleted() const noexcept { return completed.load() == 1; }
    SupportLog& getSupportLog() noexcept { return supportLog; }
    const UpdateRegion& getRegion (int index) const noexcept { return file.regions[(size_t) index]; }
    HidCtrl& getDeviceLink() noexcept { return *ctrl; }

    // The controls, for the window's tests.
    juce::ComboBox& getLanguageBox() noexcept { return *languageBox; }
    juce::ProgressBar& getProgressBar() noexcept { return *progressBar; }
    AlineButton& getOkButton() noexcept { return *okButton; }
    AlineButton& getCancelButton() noexcept { return *cancelButton; }
    juce::GlyphArrangement& getTextLayout() noexcept { return textLayout; }

    //==============================================================================
    void paint (juce::Graphics& g) override;
    void resized() override;
    void buttonClicked (juce::Button* button) override;
    void comboBoxChanged (juce::ComboBox* box) override;
    void handleAsyncUpdate() override;
    void run() override;

    void hidDeviceRemoved() override;
    void hidDeviceArrived() override;
    void hidInputReceived (int unused) override;

    // Colours of the window.
    static constexpr juce::uint32 kBackgroundColour = 0xFFEAEAEA;
    static constexpr juce::uint32 kTextColour = 0xFF000000;
    static constexpr juce::uint32 kBarColour = 0xFF080808;
    static constexpr juce::uint32 kMainRegionBarColour = 0xFFFA32C8;

private:
    //==============================================================================
    // The texts of one screen; at most one of heading+body, single and errorText is set.
    struct Screen
    {
        juce::String heading, body, single, errorText;
    };

    // What the text layout was last built from.
    struct DisplayKey
    {
        int32_t status = -1;
        int language = -1;
        int width = -1, height = -1;
        juce::String texts;

        bool operator== (const DisplayKey& other) const
        {
            return status == other.status && language == other.language && width == other.width
                   && height == other.height && texts == other.texts;
        }
        bool operator!= (const DisplayKey& other) const { return ! operator== (other); }
    };

    // The screens (ui/MainComponentScreens.cpp) and their layout (ui/MainComponentLayout.cpp).
    Screen screenFor (int32_t statusValue) const;
    void layOutText (const Screen& screen, const juce::String& languageFont);
    void updateControls (int32_t statusValue, const juce::String& languageFont);
    void showButtons (const juce::String& okCaption, const juce::String& cancelCaption);
    void placeButtons();
    void giveDefaultFocus();
    void logScreen (int32_t statusValue, const Screen& screen);

    //==============================================================================
    // The worker's steps (update/MainComponentUpdate.cpp).
    bool sendAndWait();
    bool exchange();
    bool mayGoOn() const;
    bool queryStatus();
    bool queryInfo();
    bool sumPendingLengths();
    void sendPrepare();
    void sendBlockHeader();
    void transferBlock();
    void sendChecksum();
    void pollBlock (int& interval);
    void finishUpdate();
    void requestDisplayRefresh();
    void clearRequest (uint8_t command, uint8_t subCommand) noexcept;
    uint8_t replyCode() const noexcept { return reply[kOffsetSubCommand]; }
    uint8_t replyReason() const noexcept { return reply[kOffsetReason]; }
    int64_t currentBlockLength() const noexcept;
    void publishProgress (double value) noexcept;
    const uint8_t* checkedBlock (const UpdateRegion& region, int length) const noexcept;
    void stopWorker();

    // The window takes the keyboard focus itself when it becomes active, and
    // nothing repaints then: this hands it on to the screen's default button.
    struct FocusFollower final : public juce::FocusChangeListener
    {
        std::function<void()> onFocusChange;
        void globalFocusChanged (juce::Component*) override { onFocusChange(); }
    };

    //==============================================================================
    FocusFollower focusFollower;
    SupportLog supportLog;
    juce::GlyphArrangement textLayout;
    DisplayKey laidOutKey;
    LangLookAndFeel langLookAndFeel;
    std::unique_ptr<juce::ComboBox> languageBox;
    std::unique_ptr<ProgressLookAndFeel> progressLookAndFeel;
    double progress = 0.0; // what the progress bar reads; message thread only
    std::atomic<double> workerProgress { 0.0 };
    std::unique_ptr<juce::ProgressBar> progressBar;
    std::unique_ptr<AlineButton> okButton, cancelButton;

    juce::CriticalSection displayLock;
    juce::WaitableEvent replyEvent; // auto-reset

    // What the file search found: its state, stamp, version, the region table and
    // the file as it passed its checks (every block is sent from that image).
    UpdateFileState file;
    int64_t totalBytes = 0;
    StatusValue status;
    uint32_t deviceStamp = 0;
    juce::String deviceVersion;
    uint32_t blockSum = 0;
    double busySinceMs = -1.0; // the current block's first busy reply, or none yet; worker only

    std::unique_ptr<HidCtrl> ctrl;

    // Held while the controller is written (from Start to the completion or an error screen).
    const std::unique_ptr<SleepInhibitor> sleepInhibitor = SleepInhibitor::create ("TRBKelo7UpdateProgram",
                                                                                   "A firmware update of the TRB-Kelo7 is in progress");

    std::array<uint8_t, kReportSize> outReport {};
    juce::CriticalSection replyLock; // guards inReport and awaitingReply
    std::array<uint8_t, kReportSize> inReport {}; // last reply, written on the message thread
    bool awaitingReply = false; // a request is waiting for its reply
    std::array<uint8_t, kReportSize> reply {}; // the worker's copy of the reply it judges

    std::atomic<int32_t> currentRegion { 0 };
    std::atomic<bool> fullUpdate { false };
    bool updateStarted = false;
    std::atomic<int32_t> completed { 0 };
    std::atomic<bool> removedDuringCheck { false };

    // Worker counters: zero at start, never reset (one process performs at most one update).
    int32_t regionIndex = 0;
    int64_t regionDone = 0;
    int32_t blockStart = 0;

    int replyTimeoutMs = kReplyTimeoutMs;
    int busyPollLimitMs = kBusyPollLimitMs;
    ReplyTimeoutRule replyTimeoutRule;
    std::vector<UpdateFilePlace> updateFilePlaces = updateFilePlacesForThisProcess ({});

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
