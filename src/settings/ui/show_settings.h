#pragma once

// What the settings command does with the answer of "Lumora settings": it stores the limits,
// moves the cache when its folder changed (asking "Current cache" what becomes of the old one),
// and tells the user when the old folder could not be treated as asked.

#include <functional>
#include <memory>
#include <string>

#include "platform/window.h"

class CThumbnailCache;

// Runs the settings dialog over parent. After OK: beforeChanges runs (the thumbnail pane stops
// decoding and probing there), "MaxCacheSize" and "MaxThumbsLoad" are written, the cache is
// relocated when the folder changed (cache is then the cache on the folder in use, pointed at
// currentFolder when that is set), and the cache, when there is one, gets the new size limit.
// False when the dialog was cancelled; nothing is changed then.
bool ShowSettingsDialog(HWND parent, std::unique_ptr<CThumbnailCache>& cache,
                        const std::string& currentFolder,
                        const std::function<void()>& beforeChanges = {});
