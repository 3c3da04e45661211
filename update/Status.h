#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>

// Steps of the update and error identifiers. The whole updater is driven by one
// status value: 0..7 name the step, 3585 and above are errors shown as 0x0Exx.
inline constexpr int32_t ST_INITIAL = 0;
inline constexpr int32_t ST_READY = 1;
inline constexpr int32_t ST_PREPARE = 2;
inline constexpr int32_t ST_BLOCK_HEADER = 3;
inline constexpr int32_t ST_BLOCK_DATA = 4;
inline constexpr int32_t ST_BLOCK_CHECKSUM = 5;
inline constexpr int32_t ST_BLOCK_WAIT = 6;
inline constexpr int32_t ST_COMPLETE = 7;

inline constexpr int32_t ERR_FILE_NOT_FOUND = 3585;
inline constexpr int32_t ERR_FILE_READ = 3586;
inline constexpr int32_t ERR_FILE_SIZE = 3587;
inline constexpr int32_t ERR_FILE_CONTENT = 3588;
inline constexpr int32_t ERR_FILE_CRC = 3589;
// The file is sound, but its SHA-256 is not the one the user was told to expect (--sha256).
inline constexpr int32_t ERR_FILE_DIGEST = 3590;
inline constexpr int32_t ERR_DEVICE_INFO = 3601;
inline constexpr int32_t ERR_NOT_CONNECTED = 3617;
inline constexpr int32_t ERR_REFUSED_1 = 3633;
inline constexpr int32_t ERR_FILE_OPEN = 3634;
inline constexpr int32_t ERR_REFUSED_2 = 3635;
inline constexpr int32_t ERR_REFUSED_3 = 3636;
inline constexpr int32_t ERR_REFUSED_4 = 3637;
inline constexpr int32_t ERR_TIMEOUT = 3638;
inline constexpr int32_t ERR_DEVICE_REMOVED = 3639;
// Not set by the procedure: the run's outcome when the controller reports another
// version or date stamp after a completed write (the update did not take).
inline constexpr int32_t ERR_NOT_TAKEN = 3640;
inline constexpr int32_t ERR_PROTOCOL = 3649;

// Ranges that the display and the worker test.
inline constexpr int32_t ERR_FIRST = ERR_FILE_NOT_FOUND;
inline constexpr int32_t ERR_LAST = ERR_PROTOCOL;
inline constexpr int32_t ERR_FILE_FIRST = ERR_FILE_NOT_FOUND;
inline constexpr int32_t ERR_FILE_LAST = ERR_FILE_DIGEST;

/** True for any error identifier (the worker stops, the warning icon shows). */
constexpr bool isErrorStatus (int32_t status) noexcept { return status >= ERR_FIRST && status <= ERR_LAST; }

/** True for the update-file errors, which share one message. */
constexpr bool isFileErrorStatus (int32_t status) noexcept { return status >= ERR_FILE_FIRST && status <= ERR_FILE_LAST; }

/** True for the steps in which a controller removal ends the update (ST_READY..ST_BLOCK_WAIT). */
constexpr bool isRemovableStep (int32_t status) noexcept { return status >= ST_READY && status <= ST_BLOCK_WAIT; }

/** The identifier as shown to the user: upper-case hex padded with 0 to four digits ("0E21" for 3617). */
juce::String formatErrorId (int32_t status);

/**
    The status value shared by the worker and the message thread.

    Every write but the removal goes through set(), which never replaces
    ERR_DEVICE_REMOVED. The rule is a compare-and-swap so that a worker's late
    write cannot slip in between the check and the removal's write.
    All methods are safe to call from any thread and never fail.
*/
class StatusValue final
{
public:
    StatusValue() = default;

    /** The current value. */
    int32_t get() const noexcept { return value.load (std::memory_order_acquire); }

    /** Stores newValue unless the status is ERR_DEVICE_REMOVED. Returns true when stored. */
    bool set (int32_t newValue) noexcept;

    /** Stores newValue only when the status is exactly expected (for example 1 -> 2). Returns true when stored. */
    bool setIf (int32_t expected, int32_t newValue) noexcept;

    /** The removal's own write: ERR_DEVICE_REMOVED, only while the status is 1..6. Returns true when stored. */
    bool markRemoved() noexcept;

    /** Sets the value without the rule; for the constructor's initial state only. */
    void reset (int32_t newValue = ST_INITIAL) noexcept { value.store (newValue, std::memory_order_release); }

private:
    std::atomic<int32_t> value { ST_INITIAL };

    JUCE_DECLARE_NON_COPYABLE (StatusValue)
};
