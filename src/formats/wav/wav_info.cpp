#include "formats/wav/wav_info.h"

namespace {

std::string le32(std::uint64_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

std::string subchunk(const char* id, const std::string& text) {
  if (text.empty()) return {};
  std::string chunk = std::string(id, 4) + le32(text.size() + 1) + text + '\0';
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
  return "LIST" + le32(4 + items.size()) + "INFO" + items;
}

std::string wav_info_trailer(const TrackTags& tags, std::uint64_t data_length) {
  const std::string chunk = wav_info_chunk(tags);
  if (chunk.empty()) return {};
  return (data_length % 2 != 0 ? std::string(1, '\0') : std::string()) + chunk;
}
