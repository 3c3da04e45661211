#pragma once

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <map>

/**
    The characters a font face has glyphs for, kept as bitmaps of 256-character
    blocks (a CJK face covers a few hundred blocks). Any thread once filled.
*/
class CharacterCoverage final
{
public:
    static constexpr uint32_t kBlockSize = 256;
    static constexpr size_t kWordsPerBlock = kBlockSize / 32;

    using Block = std::array<uint32_t, kWordsPerBlock>;

    /** Adds one block: bit b of word w stands for character firstCharacter + 32 * w + b. */
    void addBlock (uint32_t firstCharacter, const Block& bits) { blocks[firstCharacter / kBlockSize] = bits; }

    /** Adds a single character. */
    void add (juce::juce_wchar c)
    {
        const auto code = static_cast<uint32_t> (c);
        blocks[code / kBlockSize][(code % kBlockSize) / 32] |= 1u << (code % 32);
    }

    bool contains (juce::juce_wchar c) const noexcept
    {
        const auto code = static_cast<uint32_t> (c);
        const auto block = blocks.find (code / kBlockSize);
        return block != blocks.end() && (block->second[(code % kBlockSize) / 32] & (1u << (code % 32))) != 0;
    }

    bool isEmpty() const noexcept { return blocks.empty(); }

private:
    std::map<uint32_t, Block> blocks;
};
