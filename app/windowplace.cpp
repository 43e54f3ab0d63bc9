#include "app/windowplace.h"

#include "platform/profilefile.h"

#include <algorithm>
#include <array>

namespace morvik {
namespace {

std::array<std::int32_t, 6> valuesOf(const TWindowPlace& place)
{
    return {place.frame.left,   place.frame.top,        place.frame.width,
            place.frame.height, place.maximized ? 1 : 0, place.panel};
}

} // namespace

std::optional<TWindowPlace> readWindowPlace(const TProfileFile& ini, const std::string& section)
{
    std::array<std::int32_t, 6> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        // A key that is absent reads as the fallback; two different
        // fallbacks tell absence from any stored value.
        const std::int32_t a = ini.ReadInteger(section, kPlaceKeys[i], 0);
        if (a == 0 && ini.ReadInteger(section, kPlaceKeys[i], 1) == 1)
            return std::nullopt;
        values[i] = a;
    }
    TWindowPlace place{{values[0], values[1], values[2], values[3]}, values[4] != 0, values[5]};
    if (place.frame.width < kMinimumWindowWidth || place.frame.height < kMinimumWindowHeight || place.panel < 0)
        return std::nullopt;
    return place;
}

bool writeWindowPlace(TProfileFile& ini, const std::string& section, const TWindowPlace& place)
{
    const std::array<std::int32_t, 6> values = valuesOf(place);
    bool ok = true;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string stored = ini.ReadString(section, kPlaceKeys[i], std::string());
        if (stored != std::to_string(values[i]))
            ok = ini.WriteInteger(section, kPlaceKeys[i], values[i]) && ok;
    }
    return ok;
}

TScreenArea fitOnScreen(TScreenArea frame, const TScreenArea& screen)
{
    if (screen.width <= 0 || screen.height <= 0)
        return frame;
    frame.width = std::min(frame.width, screen.width);
    frame.height = std::min(frame.height, screen.height);
    frame.left = std::clamp(frame.left, screen.left, screen.left + screen.width - frame.width);
    frame.top = std::clamp(frame.top, screen.top, screen.top + screen.height - frame.height);
    return frame;
}

} // namespace morvik
