// Internal to the document: the body of the "open file" thread.
#pragma once

#include <cstdint>
#include <span>

#include "document/document_record.h"

// Reads the whole audio data once and stores the graph (only the block count when the
// document asks for its length and the file states it exactly); always ends with the
// document analysed, with an error text when no analysis could be made.
void audio_document_analyze(AudioDocument& document);

// Min and max of the first channel's samples of one block (8, 16 or 24 bit; any other
// depth gives {0, 0}). A sample whose bytes reach past the block is not looked at.
GraphPoint analysis_block_extremes(std::span<const std::uint8_t> block, std::uint32_t bits,
                                   std::uint32_t channels);
