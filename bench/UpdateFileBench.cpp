// Speed of the update file check: the CRC-16 over the whole image and the full
// check of a 2 MiB file that lies in the page cache.

#include "tools/UpdateImageBuilder.h"
#include "update/UpdateFile.h"

#include <benchmark/benchmark.h>

namespace
{
const std::vector<uint8_t>& benchImage()
{
    static const auto image = makeUpdateImage ("1.02", 0x20261209, 11);
    return image;
}

void crc16OverTheImage (benchmark::State& state)
{
    const auto& image = benchImage();

    for (auto _ : state)
        benchmark::DoNotOptimize (crc16 (image.size() - 2, image.data()));

    state.SetBytesProcessed (static_cast<int64_t> (state.iterations()) * static_cast<int64_t> (image.size() - 2));
}
BENCHMARK (crc16OverTheImage);

void crc16BitwiseReference (benchmark::State& state)
{
    const auto& image = benchImage();

    for (auto _ : state)
        benchmark::DoNotOptimize (crc16Bitwise (image.size() - 2, image.data()));

    state.SetBytesProcessed (static_cast<int64_t> (state.iterations()) * static_cast<int64_t> (image.size() - 2));
}
BENCHMARK (crc16BitwiseReference)->Unit (benchmark::kMillisecond);

void loadUpdateFileFromThePageCache (benchmark::State& state)
{
    const auto file = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("trbkelo7__v", ".bin");
    const auto& image = benchImage();
    file.replaceWithData (image.data(), image.size());

    uint32_t stamp = 0;
    juce::String version;

    for (auto _ : state)
        if (loadUpdateFile (file, stamp, version) != kFileCheckPassed)
            state.SkipWithError ("the benchmark file did not pass its checks");

    state.SetBytesProcessed (static_cast<int64_t> (state.iterations()) * kImageSize);
    file.deleteFile();
}
BENCHMARK (loadUpdateFileFromThePageCache)->Unit (benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
