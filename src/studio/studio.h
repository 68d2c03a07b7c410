#pragma once
// The studio: the production played from a folder of loose files while its maker edits them. The folder is
// watched; a changed file that the show uses is reloaded by its kind (reload.h) and shown from the next
// frame on, the clock and the pause untouched; a file that fails keeps the last good version and its error
// stays on the picture until it loads. Keys: Space pause, Left and Right a second, Page Up and Page Down
// the cuts, Home the start, [ and ] a loop's ends at the nearest cut, L the loop, O the overlay, F full
// screen, Escape the end. It runs on the one frame loop with a clock of its own (studio_clock.h) and a sink
// that draws the overlay (overlay.h).
#include <string>

#include "app/entry.h"

// Plays the data set in `folder` in a 640 by 480 window, the music on the sound output. Returns 0 after
// Escape or closing the window; 1 when the folder cannot be used or the data set does not load (the text
// shown as the entry shows it).
int qv_studio(const std::string& folder, const EntryOptions& options = EntryOptions());

// The data folder the studio plays for `folder`: the folder itself, or its "data" folder when it holds one
// and no loading picture of its own (the folder a production is made in, given instead of its data).
std::string studioDataFolder(const std::string& folder);
