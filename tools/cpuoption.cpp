#include "cpuoption.h"

#include "compo/mp3plyr.h"
#include "compo/mpeg/cpufeatures.h"
#include "compo/mpeg/dispatch.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace morvik::cli {

const char* const kCpuUsage = "[--cpu auto|none|reference] [--cpu-features WORD]";

namespace {

bool parseKind(const std::string& word, CpuChoice::Kind& kind)
{
    if (word == "auto")
        kind = CpuChoice::Auto;
    else if (word == "none")
        kind = CpuChoice::None;
    else if (word == "reference")
        kind = CpuChoice::Reference;
    else
        return false;
    return true;
}

// Hexadecimal, "0x" optional, nonzero and within 32 bits.
bool parseFeatureWord(const std::string& text, std::uint32_t& word)
{
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    word = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
    return word != 0;
}

} // namespace

bool takeCpuOptions(Args& args, CpuChoice& choice)
{
    while (!args.empty() && (args[0] == "--cpu" || args[0] == "--cpu-features")) {
        const bool kind = args[0] == "--cpu";
        if (args.size() < 2 || (kind ? !parseKind(args[1], choice.kind) : !parseFeatureWord(args[1], choice.featureWord))) {
            std::fprintf(stderr, kind ? "morvik-cli: --cpu takes auto, none or reference\n"
                                      : "morvik-cli: --cpu-features takes a nonzero hexadecimal word, e.g. 0x40015B\n");
            return false;
        }
        args.erase(args.begin(), args.begin() + 2);
    }
    return true;
}

void selectDecoderRoutines(const CpuChoice& choice)
{
    if (choice.kind == CpuChoice::Reference) {
        mpeg::SelectReferenceVariants();
        return;
    }
    const std::uint32_t features = choice.featureWord ? choice.featureWord : mpeg::CpuFeatures();
    const std::uint8_t caps = choice.kind == CpuChoice::None ? 0 : mpeg::FeaturesToCapabilities(features);
    mpeg::SelectDecoderVariants(mpeg::EffectiveFeatures(features, caps));
}

void applyToPlayer(const CpuChoice& choice, TMP3Player& player)
{
    player.SetCpuFeatureWord(choice.featureWord);
    player.ForceReferenceRoutines = choice.kind == CpuChoice::Reference;
    player.SetUsingCpuCapabilities(choice.kind == CpuChoice::None ? 0 : AllCpuCapabilities);
}

} // namespace morvik::cli
