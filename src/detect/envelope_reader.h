// Reads a whole recording once, through the format layer, into its Envelope: the samples
// pass through a fixed ring of buffers and only the levels stay, so memory does not grow with
// the recording's length.
#pragma once

#include <optional>

#include "detect/envelope.h"
#include "formats/format.h"

// Called now and then with the fraction read so far (by the length the file states).
using EnvelopeProgressFunc = void (*)(void* user_data, double fraction);

// The envelope of file from its first sample to its end. std::nullopt, with a reason in
// *error, when no audio can be read at all; a read that fails later ends the envelope there
// (the format module has warned).
std::optional<Envelope> envelope_read(AudioFile& file, ErrorText* error,
                                      EnvelopeProgressFunc progress = nullptr, void* user_data = nullptr);
