// Steps of the converter shared by its own files, not part of its interface.
#pragma once

#include "gfx.h"

// Gfx_convert, with the pattern limit checked or not; without it the cells
// may hold tile numbers past 255, for gfx_merge_patterns to bring down.
bool gfx_convert(const GfxPicture& picture, const GfxOptions& options, GfxArt* art, bool limit_patterns);

// Merges the least used patterns into the nearest form of others until at
// most `limit` are left, changing the cells that used them.
void gfx_merge_patterns(GfxArt* art, int limit);
