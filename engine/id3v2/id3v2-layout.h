// An ID3v2 tag read byte by byte, apart from TagLib: the header, every frame
// with its flags and stored data, and the version 2.4 form of each frame. A
// repair keeps every frame it does not re-decode as these bytes, and checks
// the tag it is about to write against the tag it replaces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Id3v2Frame {
  std::string id;  // as stored: 3 characters in version 2.2, else 4
  // Status flags.
  bool discardOnTagChange = false;   // "tag alter preservation"
  bool discardOnFileChange = false;  // "file alter preservation"
  bool readOnly = false;
  // Format: the data is kept exactly as stored (compressed or encrypted data
  // stays so), with the fields its flags add.
  bool compressed = false;
  bool encrypted = false;
  bool grouped = false;
  bool hasDataLength = false;  // a data length (decompressed size) is stored
  unsigned char groupId = 0;
  unsigned char encryptionMethod = 0;
  std::uint32_t dataLength = 0;
  std::string data;  // after unsynchronisation is taken out
  // A version 2.4 frame whose flags promise fields it does not hold is kept
  // as stored: its flags and bytes.
  bool malformed = false;
  std::uint16_t storedFlags = 0;

  bool operator==(const Id3v2Frame& other) const;
  bool operator!=(const Id3v2Frame& other) const { return !(*this == other); }
};

struct Id3v2Layout {
  int version = 0;  // major version: 2, 3 or 4
  unsigned char flags = 0;
  std::uint32_t bodySize = 0;  // the size field of the header
  std::uint64_t extent = 0;    // header, body and footer
  std::vector<Id3v2Frame> frames;
  // Why the walk stopped before the end of the frame area, when it did:
  // neither a frame nor zero padding follows. Empty when the tag was read to
  // its end.
  std::string unreadable;
  // Where audio begins inside the declared tag, when a writer counted the
  // tag's size too long and the padding runs into the first audio frame;
  // 0 when it does not.
  std::uint64_t audioStart = 0;
};

// Reads the tag that starts at `bytes` ("ID3..."); `bytes` holds at least
// the whole tag when it fits in the file. False when the header is not an
// ID3v2 header, the tag is compressed as a whole (version 2.2), or it runs
// past `bytes`; `extent` is set whenever the header can be read.
// Frames embedded in the chapters of a version 2.3 tag are given version
// 2.4 headers unless `embeddedAsV24` is false.
bool ReadId3v2Layout(const std::string& bytes, Id3v2Layout* layout, bool embeddedAsV24 = true);

// A frame that a chapter (CHAP) or table of contents (CTOC) embeds: where
// its header starts in the chapter's data, its whole length, and its data.
struct EmbeddedFrame {
  std::size_t at = 0, length = 0;
  std::string id;
  std::uint16_t flags = 0;
  std::string data;
};

// The frames embedded in a chapter frame's data, with version 2.3 (`version`
// 3) or version 2.4 headers; false when it is no chapter frame or its
// frames do not walk to the end of its data.
bool ReadEmbeddedFrames(const Id3v2Frame& chapter, int version, std::vector<EmbeddedFrame>* frames);

// Appends `value` as a syncsafe number: four bytes of seven bits each, most
// significant first, as version 2.4 frame sizes and every tag size are kept.
void AppendSyncsafe(std::string* out, std::uint32_t value);

// Reads one version 2.4 frame that stands alone in `bytes` with its flags
// clear, as TagLib renders a new frame: its header must give its id, a
// syncsafe size of exactly the rest of `bytes` and no flags.
bool ReadPlainFrameV24(const std::string& bytes, Id3v2Frame* frame);

// The frame in version 2.4 form: header with a syncsafe size and version 2.4
// flags, then its group, encryption method and data length, then its data.
// `id` replaces the stored id when given.
std::string RenderFrameV24(const Id3v2Frame& frame, const std::string& id = std::string());

// The frame in version 2.3 form: header with a plain size and version 2.3
// flags, then its data length (when compressed), encryption method and
// group, then its data. A data length without compression has no version
// 2.3 form and is left out.
std::string RenderFrameV23(const Id3v2Frame& frame);

