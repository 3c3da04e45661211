#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

/**
    Fingerprints of the update file's content as it was when it passed its
    checks, one 64-bit digest per kDigestChunkSize bytes of the file.

    The update worker reads every block again from the file before it sends it;
    it asks matches() whether the block is still exactly what was checked, so a
    file changed or replaced after the check is refused before its first byte
    goes to the controller. The chunk is small enough that every block the
    worker reads (128 KiB blocks, and the shortened 4 KiB info block) is a whole
    number of chunks at a chunk boundary.

    The digest is a fast non-cryptographic hash: it guards against a file that
    changed underneath us, not against someone who can write the file anyway.
    A const object may be read from any thread.
*/
class ContentDigests final
{
public:
    static constexpr int64_t kDigestChunkSize = 0x1000;

    ContentDigests() = default;

    /** Digests of size bytes of content (the image in memory). Any thread. */
    static ContentDigests of (const uint8_t* content, size_t size);

    /** True when no content has been digested (nothing may be sent). */
    bool isEmpty() const noexcept { return chunkDigests.empty(); }

    /** The size of the content that was digested, in bytes. */
    int64_t getContentSize() const noexcept { return contentSize; }

    /**
        True when the length bytes at data are exactly the content that was
        digested at fileOffset. The range must lie inside the content and start
        on a chunk boundary; it must end on one too, or at the end of the
        content. Anything else, and any difference, gives false. Any thread.
    */
    bool matches (int64_t fileOffset, const void* data, int64_t length) const noexcept;

    /** The 64-bit digest used for every chunk; exposed for tests and benchmarks. Any thread. */
    static uint64_t digest (const void* data, size_t size) noexcept;

private:
    std::vector<uint64_t> chunkDigests;
    int64_t contentSize = 0;
};
