// The exact preview: the smallest player program of docs/sound.md built
// around converted sound data and run in the machine, frame by frame as
// lumacor-run runs it, so what it gives is what a game plays.
#pragma once

#include <string>
#include <vector>

// The player's source for the block labelled `label`, started with
// snd_music, or with snd_effect when `effect` is set. It includes
// "lumacor.inc", "sound.inc" and "sounds.inc" (the converted data).
std::string Sound_player_source(const std::string& label, bool effect);

// Assembles the player around `include_text` (Sound_include_text's output)
// and runs it for `frames` frames, appending the machine's samples to
// `samples`. False, with the reason in `error`, when it did not assemble.
bool Sound_preview(const std::string& include_text, const std::string& label, bool effect, int frames,
                   std::vector<float>* samples, std::string* error);
