// Layer III stereo processing (middle/side and intensity) and the antialias
// butterflies between neighbouring subbands, on the requantised spectra of
// one granule.
#pragma once

namespace morvik::mpeg {

struct BandLayout;
struct GranuleSideInfo;
struct Layer3Tables;
struct LsfIntensityRecord;
struct RequantResult;
struct ScaleFactorSet;

void MidSideStereo(float* left, float* right, int lines);
// Intensity stereo above the right channel's last nonzero band: MPEG-1
// positions (IntensityStereo1) and the lower sampling frequencies'
// (IntensityStereo2, whose position ranges follow the scale-factor parts).
void IntensityStereo1(const Layer3Tables& t, const BandLayout& bands, float* left, float* right,
                      const ScaleFactorSet& rightSf, const RequantResult& rightResult, int leftExtent, bool midSide);
void IntensityStereo2(const Layer3Tables& t, const BandLayout& bands, float* left, float* right,
                      const ScaleFactorSet& rightSf, const RequantResult& leftResult,
                      const RequantResult& rightResult, const LsfIntensityRecord& record, int leftExtent,
                      bool midSide);

// The butterflies' coefficients: cs = 1 / sqrt(1 + c^2), ca = c / sqrt(1 + c^2)
// for the standard's eight c.
struct AntialiasCoefficients {
    float cs[8];
    float ca[8];
};
const AntialiasCoefficients& antialiasCoefficients();

// Subband boundaries the antialias butterflies cross for a channel granule.
int AntialiasBoundaries(const GranuleSideInfo& g, int extent);
// Reference butterflies over the first `boundaries` subband boundaries.
void AntialiasRef(float* spectrum, int boundaries);

} // namespace morvik::mpeg
