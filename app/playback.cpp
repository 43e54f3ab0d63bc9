#include "app/playback.h"

namespace morvik::playback {

namespace {

bool isLoaded(std::int32_t index, std::int32_t count) { return index >= 0 && index < count; }

} // namespace

TRepeatMode afterRepeatOneClick(TRepeatMode mode)
{
    return mode == TRepeatMode::One ? TRepeatMode::Off : TRepeatMode::One;
}

TRepeatMode afterRepeatAllClick(TRepeatMode mode)
{
    return mode == TRepeatMode::All ? TRepeatMode::Off : TRepeatMode::All;
}

std::optional<std::int32_t> recordOfRow(std::int32_t row, std::int32_t count)
{
    if (row < 1 || !isLoaded(row - 1, count))
        return std::nullopt;
    return row - 1;
}

std::optional<std::int32_t> nextIndex(std::int32_t index, std::int32_t count)
{
    if (!isLoaded(index, count))
        return std::nullopt;
    return index + 1 >= count ? 0 : index + 1;
}

std::optional<std::int32_t> previousIndex(std::int32_t index, std::int32_t count)
{
    if (!isLoaded(index, count))
        return std::nullopt;
    return index == 0 ? count - 1 : index - 1;
}

std::optional<std::int32_t> indexAfterEnd(bool switching, TRepeatMode mode, TMP3EndPlayReason reason,
                                          std::int32_t index, std::int32_t count)
{
    if (switching || reason == meprError)
        return std::nullopt;
    switch (mode) {
    case TRepeatMode::Off:
        return std::nullopt;
    case TRepeatMode::One:
        return isLoaded(index, count) ? std::optional<std::int32_t>(index) : std::nullopt;
    case TRepeatMode::All:
        return nextIndex(index, count);
    }
    return std::nullopt;
}

} // namespace morvik::playback
