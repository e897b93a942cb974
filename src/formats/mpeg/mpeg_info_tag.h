// The Xing/Info frame that leads a layer III stream, and the LAME extension in it whose encoder
// delay and padding tell gapless decoders how many samples to drop at each end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct MpegInfoTag {
  bool constant_bitrate = true;  // the tag is named "Info"; "Xing" otherwise
  std::uint32_t frames = 0;      // audio frames after the tag's own
  std::uint32_t bytes = 0;       // from the first byte of the tag's frame to the end of the audio
  std::array<std::uint8_t, 100> toc{};  // byte position (in 1/256 of bytes) at each percent of the time
  std::uint32_t quality = 0;

  // The LAME extension. Replay gain and peak are left out: they describe a whole recording.
  bool lame = false;             // present (always written)
  std::string encoder;           // at most 9 characters, "LAME3.100" for instance
  std::uint8_t revision_and_method = 0;  // tag revision (high nibble) and bit-rate method
  std::uint8_t lowpass = 0;      // in units of 100 Hz
  std::uint8_t encoding_flags = 0;       // and the ATH type
  std::uint8_t bitrate = 0;      // kbps, at most 255
  std::uint16_t delay = 0;       // 12 bits: samples the encoder put in front of the audio
  std::uint16_t padding = 0;     // 12 bits: samples after it, in the last frames
  std::uint8_t misc = 0;
  std::uint16_t preset = 0;      // preset and surround
  std::uint32_t music_length = 0;  // as bytes
  std::uint16_t music_crc = 0;   // of every byte after the tag's frame

  bool tag_crc_matches = false;  // read only: the extension's own CRC is right
};

// CRC-16 with polynomial 0x8005, bits reflected, starting from crc: the checksum of the LAME
// extension and of the music. Feed a long stream piece by piece, each call's result the next's crc.
std::uint16_t mpeg_lame_crc(std::span<const std::uint8_t> bytes, std::uint16_t crc = 0);

// Bytes a frame with the given header needs to hold the tag and the whole extension.
std::size_t mpeg_info_frame_min_bytes(std::span<const std::uint8_t, 4> header);

// The whole Info frame for header (a layer III header; its CRC bit is cleared, since decoders
// find the tag at the same place either way), or an empty vector when the header is no layer
// III header or its frame is too small for the tag. The side information is all zero, which
// marks the frame as no audio.
std::vector<std::uint8_t> mpeg_info_frame(std::span<const std::uint8_t, 4> header, const MpegInfoTag& tag);

// The tag of a Xing/Info frame (the frame's bytes from its header on), or nullopt when it is
// none. Fields the frame's flags leave out stay zero; lame tells whether an extension follows.
std::optional<MpegInfoTag> mpeg_info_tag_parse(std::span<const std::uint8_t> frame);
