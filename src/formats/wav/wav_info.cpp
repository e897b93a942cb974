#include "formats/wav/wav_info.h"

#include "io/byte_order.h"

namespace {

// A chunk's id and 32-bit size.
std::string chunk_header(const char* id, std::uint64_t size) {
  std::string header(id, 4);
  append_le(header, size, 4);
  return header;
}

std::string subchunk(const char* id, const std::string& text) {
  if (text.empty()) return {};
  std::string chunk = chunk_header(id, text.size() + 1) + text + '\0';
  // RIFF chunks start at even offsets; the pad byte is not counted in the chunk's size.
  if (chunk.size() % 2 != 0) chunk += '\0';
  return chunk;
}

}  // namespace

std::string wav_info_chunk(const TrackTags& tags) {
  const std::string track = tags.track_number > 0 ? std::to_string(tags.track_number) : "";
  const std::string items = subchunk("INAM", tags.title) + subchunk("IART", tags.artist) +
                            subchunk("IPRD", tags.album) + subchunk("ITRK", track) +
                            subchunk("ICRD", tags.date) + subchunk("IGNR", tags.genre);
  if (items.empty()) return {};
  return chunk_header("LIST", 4 + items.size()) + "INFO" + items;
}

std::string wav_info_trailer(const TrackTags& tags, std::uint64_t data_length) {
  const std::string chunk = wav_info_chunk(tags);
  if (chunk.empty()) return {};
  return (data_length % 2 != 0 ? std::string(1, '\0') : std::string()) + chunk;
}
