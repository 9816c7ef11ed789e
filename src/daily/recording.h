// The lines a run reads, recorded for the replay code of its daily game.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace numoteka {

// The most typed bytes a run records.
inline constexpr size_t RECORDING_LIMIT = 1024 * 1024;

// From now on every byte typed that the game takes in is recorded, as code page 932, whatever
// the terminal speaks; what was recorded before is dropped. Called before the game reads
// anything of a terminal just attached.
void startRecording();

// Stops recording; what was recorded stays.
void stopRecording();

// What was recorded: what a replay needs. Nothing once more than RECORDING_LIMIT bytes came.
std::optional<std::string_view> recordedInput();

// What was recorded but the lines the game read whole, its name answers: the same for two runs
// that differ only in the names typed. Nothing once more than RECORDING_LIMIT bytes came.
std::optional<std::string> recordedInputWithoutNames();

}  // namespace numoteka
