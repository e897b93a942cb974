// Internal to the document: the body of the "open file" thread.
#pragma once

struct AudioDocument;

// Reads the whole audio data once and stores the graph (only the block count when the
// document asks for its length and the file states it exactly); always ends with the
// document analysed, with an error text when no analysis could be made.
void audio_document_analyze(AudioDocument& document);
