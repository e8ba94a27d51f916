#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The settings dialog's checks of what the user typed, apart from the dialog.

// A number field's value: empty text is 0; otherwise only decimal digits (no sign, no blanks)
// within the signed 32-bit range. Anything else has no value: a silent wrap or cap would turn a
// huge limit into a small or absent one.
std::optional<int32_t> ParseNumberField(const std::string& text);

// "Approx. n MB.", n being the memory of that many 128 x 128 thumbnails at 3 bytes a pixel, in
// whole megabytes.
std::string ThumbnailMemoryEstimate(int32_t thumbnails);

// The cache folder the dialog stores for the folder in its field: a folder picked anew gets
// "LumoraCache" under it, unless it already ends with that name; an empty or unchanged folder is
// kept as it is.
std::string CacheFolderFromField(const std::string& field, const std::string& stored);
