#include "text/FormatText.h"
#include "text/TxtLoader.h"
#include "text/fonts/FontResolvingLookAndFeel.h"
#include "text/fonts/SystemFonts.h"

#include <benchmark/benchmark.h>

// What the catalogue costs the user: its creation (language detection, which asks
// fontconfig about twelve languages), a language switch from the chooser, filling a
// message, and the first resolution of a catalogue font name.

static void CatalogueCreationWithDetection (benchmark::State& state)
{
    for (auto _ : state)
    {
        benchmark::DoNotOptimize (TxtLoader::getInstance());
        TxtLoader::deleteInstance();
    }
}
BENCHMARK (CatalogueCreationWithDetection)->Unit (benchmark::kMillisecond);

static void LanguageSwitch (benchmark::State& state)
{
    auto* catalogue = TxtLoader::getInstance();
    int language = 0;

    for (auto _ : state)
    {
        catalogue->setLanguage (language);
        language = (language + 1) % kLanguageCount;
        benchmark::DoNotOptimize (catalogue->getText (TXT_UPDATE_COMPLETE));
    }

    TxtLoader::deleteInstance();
}
BENCHMARK (LanguageSwitch);

static void FillingTheLongestMessage (benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize (formatText (kTextUpdateComplete[6], kTextModel[6]));
}
BENCHMARK (FillingTheLongestMessage);

static void FillingAVersionText (benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize (formatText (kTextCurrentVersion[11], "1", "5"));
}
BENCHMARK (FillingAVersionText);

// The fontconfig matching of each catalogue font name, which runs once per name and
// style before its face is cached.
static void MatchingEveryCatalogueFont (benchmark::State& state)
{
    for (auto _ : state)
        for (const auto* name : { "Verdana", "SimHei", "Batang", "MS PGothic" })
            benchmark::DoNotOptimize (SystemFonts::findFace (name, FontResolvingLookAndFeel::languagesUsingFont (name), false, false));
}
BENCHMARK (MatchingEveryCatalogueFont)->Unit (benchmark::kMillisecond);

// A resolved font asked for again, as every paint does.
static void ResolvingACachedFont (benchmark::State& state)
{
    FontResolvingLookAndFeel look;
    const juce::Font font ("SimHei", 12.0f, juce::Font::plain);
    benchmark::DoNotOptimize (look.getTypefaceForFont (font));

    for (auto _ : state)
        benchmark::DoNotOptimize (look.getTypefaceForFont (font));
}
BENCHMARK (ResolvingACachedFont);

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI framework;
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
