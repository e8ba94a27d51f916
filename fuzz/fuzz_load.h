#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Loads the bytes as a file with the given extension through the whole image pipeline: the
// reader, the loader and each resampling path.
void FuzzLoadImage(const uint8_t* data, size_t size, const std::string& extension);

// Loads the bytes again as a viewer browsing on through slow pictures loads them: three loads
// whose decodes are held back at their start (every place for a decode taken), a fourth that
// waits for a place and is left there, then the three left while their decodes run, which end
// on their own after the images have gone. For the readers that decode on threads of their
// own; the hook and the count are that reader's. Returns once every decode has ended.
void FuzzLoadLeavingItsDecode(const uint8_t* data, size_t size, const std::string& extension,
                              void (*setHook)(void (*)()), int (*decodesRunning)());
