// Writes the fuzzer's seed corpus: small MP3 files (under 4 KB) that reach
// the odd corners of ID3v2 and MPEG parsing.
//   make_seeds FOLDER
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/fixtures.h"

namespace fs = std::filesystem;
using fixtures::MpegFrames;

namespace {

std::string BigEndian(unsigned value, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i)
    out.push_back(char(value >> (8 * i)));
  return out;
}

std::string SyncSafe(unsigned value) {
  return {char((value >> 21) & 0x7F), char((value >> 14) & 0x7F), char((value >> 7) & 0x7F),
          char(value & 0x7F)};
}

std::string Flags(unsigned flags) {
  return BigEndian(flags, 2);
}

// Frames of each version: 2.2 (3-byte ids and sizes), 2.3 (big-endian
// sizes), 2.4 (sync-safe sizes); `size` replaces the true size when given.
std::string Frame22(const std::string& id, const std::string& body) {
  return id + BigEndian(unsigned(body.size()), 3) + body;
}
std::string Frame23(const std::string& id, const std::string& body, unsigned flags = 0,
                    long size = -1) {
  return id + BigEndian(size < 0 ? unsigned(body.size()) : unsigned(size), 4) + Flags(flags) + body;
}
std::string Frame24(const std::string& id, const std::string& body, unsigned flags = 0,
                    long size = -1) {
  return id + SyncSafe(size < 0 ? unsigned(body.size()) : unsigned(size)) + Flags(flags) + body;
}

std::string Header(int version, unsigned flags, unsigned size) {
  return std::string("ID3") + char(version) + '\0' + char(flags) + SyncSafe(size);
}

std::string Tag(int version, const std::string& frames, int padding = 0, unsigned flags = 0) {
  const std::string body = frames + std::string(size_t(padding), '\0');
  return Header(version, flags, unsigned(body.size())) + body;
}

// Unsynchronisation: a zero after every 0xFF followed by 0xE0 or more, or 0.
std::string Unsync(const std::string& data) {
  std::string out;
  for (size_t i = 0; i < data.size(); ++i) {
    out.push_back(data[i]);
    const unsigned char next = i + 1 < data.size() ? data[i + 1] : 0;
    if ((unsigned char)data[i] == 0xFF && (next >= 0xE0 || next == 0))
      out.push_back('\0');
  }
  return out;
}

std::string Deflate(const std::string& data) {
  uLongf size = compressBound(uLong(data.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
            uLong(data.size()), 9);
  out.resize(size);
  return out;
}

const std::string kTitle = "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8";  // cp1251
const std::string kArtist = "\xCA\xE8\xED\xEE";
const std::string kWithFF = "\xFF\xE0\xFF\x00\xFF\xFF\xC0";  // "яа я" and unsync bait

std::string Latin1(const std::string& text) {
  return std::string(1, '\0') + text;
}
std::string Nul() {
  return std::string(1, '\0');
}

std::string Audio() {
  return MpegFrames(2, 7);
}

std::string Id3v1(const std::string& title, int genre = 255, int track = 1) {
  std::string tag = fixtures::Id3v1Tag(title, kArtist, "\xC0\xEB\xFC\xE1\xEE\xEC", "1988", track);
  tag[127] = char(genre);
  return tag;
}

// One MPEG frame header and a body of `body` bytes.
std::string MpegHeader(unsigned char b2, unsigned char b3, int body = 413) {
  return std::string("\xFF\xFB", 2) + char(b2) + char(b3) + std::string(size_t(body), '\x55');
}

std::map<std::string, std::string> Seeds() {
  const std::string audio = Audio();
  const std::string titles23 = Frame23("TIT2", Latin1(kTitle)) + Frame23("TPE1", Latin1(kArtist)) +
                               Frame23("TALB", Latin1("Album")) + Frame23("TRCK", Latin1("3/12")) +
                               Frame23("TCON", Latin1("(17)"));
  const std::string titles24 = Frame24("TIT2", Latin1(kTitle)) + Frame24("TPE1", Latin1(kArtist)) +
                               Frame24("TDRC", Latin1("1988-05"));
  std::map<std::string, std::string> seeds;

  // Plain tags of each version.
  seeds["v23-plain"] = Tag(3, titles23) + audio;
  seeds["v24-padding"] = Tag(4, titles24, 300) + audio;
  seeds["v22-frames"] = Tag(2, Frame22("TT2", Latin1(kTitle)) + Frame22("TP1", Latin1(kArtist)) +
                                   Frame22("TAL", Latin1(kArtist)) +
                                   Frame22("TXX", Latin1(kArtist + Nul() + kTitle)) +
                                   Frame22("COM", Latin1("eng" + Nul() + kTitle))) +
                        audio;
  seeds["v22-compression-flag"] = Tag(2, Frame22("TT2", Latin1(kTitle)), 0, 0x40) + audio;
  seeds["v25-unknown-version"] = Tag(5, Frame24("TIT2", Latin1(kTitle))) + audio;

  // Compressed frames: 2.3 keeps the inflated size before the data, 2.4 in
  // a data length indicator.
  const std::string inflated = Latin1(kTitle + " " + kTitle);
  seeds["v23-compressed"] =
      Tag(3, Frame23("TIT2", BigEndian(unsigned(inflated.size()), 4) + Deflate(inflated), 0x80) +
                 Frame23("TPE1", Latin1(kArtist))) +
      audio;
  seeds["v24-compressed"] =
      Tag(4, Frame24("TIT2", SyncSafe(unsigned(inflated.size())) + Deflate(inflated), 0x09)) +
      audio;
  seeds["v23-compressed-garbage"] =
      Tag(3, Frame23("TIT2", BigEndian(64, 4) + "\x78\x9C not zlib at all", 0x80)) + audio;
  seeds["v23-compressed-absurd-size"] =
      Tag(3, Frame23("TIT2", BigEndian(0xFFFFFFF0u, 4) + Deflate(inflated), 0x80)) + audio;
  seeds["v24-compressed-no-length"] = Tag(4, Frame24("TIT2", Deflate(inflated), 0x08)) + audio;

  // Unsynchronisation, of the whole tag and of one 2.4 frame.
  const std::string baited = Frame23("TIT2", Latin1(kWithFF)) + Frame23("TPE1", Latin1(kTitle));
  seeds["v23-unsync-tag"] = Tag(3, Unsync(baited), 0, 0x80) + audio;
  seeds["v24-unsync-tag"] =
      Tag(4, Unsync(Frame24("TIT2", Latin1(kWithFF)) + Frame24("TALB", Latin1(kTitle))), 0, 0x80) +
      audio;
  const std::string unsyncedBody = Unsync(Latin1(kWithFF + kTitle));
  seeds["v24-unsync-frame"] = Tag(4, Frame24("TIT2", unsyncedBody, 0x02)) + audio;
  seeds["v24-unsync-frame-with-length"] =
      Tag(4, Frame24("TIT2", SyncSafe(unsigned(kWithFF.size() + 1)) + unsyncedBody, 0x03)) + audio;

  // Extended headers.
  seeds["v23-extended"] =
      Tag(3, BigEndian(6, 4) + Flags(0) + BigEndian(20, 4) + titles23, 20, 0x40) + audio;
  seeds["v23-extended-crc"] =
      Tag(3, BigEndian(10, 4) + Flags(0x8000) + BigEndian(0, 4) + "\xDE\xAD\xBE\xEF" + titles23, 0,
          0x40) +
      audio;
  seeds["v24-extended"] =
      Tag(4,
          SyncSafe(15) + "\x01\x70" + "\x00" + "\x05\x01\x02\x03\x04\x05" + "\x01\x33" + titles24,
          0, 0x40) +
      audio;
  seeds["v24-extended-absurd"] =
      Tag(4, SyncSafe(0x0FFFFFFF) + "\x01\x00" + titles24, 0, 0x40) + audio;
  seeds["v24-footer"] = [&] {
    const std::string tag = Tag(4, titles24, 0, 0x10);
    return tag + "3DI" + tag.substr(3, 7) + audio;
  }();

  // Other frame flags.
  seeds["v23-encrypted"] = Tag(3, Frame23("TIT2", "\x80" + Latin1(kTitle), 0x40)) + audio;
  seeds["v23-grouping"] = Tag(3, Frame23("TIT2", "\x01" + Latin1(kTitle), 0x20)) + audio;
  seeds["v24-length-indicator"] =
      Tag(4, Frame24("TIT2", SyncSafe(unsigned(kTitle.size() + 1)) + Latin1(kTitle), 0x01)) + audio;
  seeds["v24-discard-flags"] = Tag(4, Frame24("TIT2", Latin1(kTitle), 0x7000)) + audio;

  // Absurd sizes and truncation.
  seeds["tag-size-absurd"] = Header(3, 0, 0x0FFFFFFF) + titles23 + audio;
  seeds["tag-size-zero"] = Header(3, 0, 0) + titles23 + audio;
  seeds["frame-size-absurd-v23"] =
      Tag(3, Frame23("TIT2", Latin1(kTitle), 0, 0x7FFFFFFF) + Frame23("TPE1", Latin1(kArtist))) +
      audio;
  seeds["frame-size-absurd-v24"] = Tag(4, Frame24("TIT2", Latin1(kTitle), 0, 0x0FFFFFFF)) + audio;
  seeds["frame-size-not-syncsafe-v24"] =
      Tag(4, "TIT2" + BigEndian(0x80, 4) + Flags(0) + Latin1(std::string(0x80, '\xE0'))) + audio;
  seeds["frame-beyond-tag"] = Tag(3, Frame23("TIT2", Latin1(kTitle), 0, 200)) + audio;
  seeds["frame-size-zero"] = Tag(3, Frame23("TIT2", "") + Frame23("TPE1", Latin1(kArtist))) + audio;
  seeds["frame-encoding-only"] = Tag(3, Frame23("TIT2", Nul())) + audio;
  seeds["truncated-tag"] = (Header(3, 0, 2000) + titles23).substr(0, 60);
  seeds["truncated-frame-header"] = Header(3, 0, 40) + "TIT2\x00\x00";
  seeds["truncated-text"] =
      Header(4, 0, 30) + Frame24("TIT2", Latin1(kTitle), 0, 100).substr(0, 20);
  seeds["header-only"] = Header(3, 0, 0);
  seeds["empty"] = "";

  // Broken MPEG audio.
  seeds["mpeg-bad-bitrate"] = Tag(3, titles23) + MpegHeader(0xF0, 0x64) + MpegHeader(0xF0, 0x64);
  seeds["mpeg-bad-samplerate"] = Tag(3, titles23) + MpegHeader(0x9C, 0x64) + audio;
  seeds["mpeg-free-format"] = Tag(3, titles23) + MpegHeader(0x00, 0x64, 200);
  seeds["mpeg-reserved-layer"] = Tag(3, titles23) + std::string("\xFF\xF9\x90\x64", 4) + audio;
  seeds["mpeg-sync-run"] = Tag(3, titles23) + std::string(600, '\xFF');
  seeds["mpeg-none"] = Tag(3, titles23);
  seeds["mpeg-xing"] = Tag(3, titles23) + "\xFF\xFB\x90\x64" + std::string(32, '\0') + "Xing" +
                       BigEndian(0x0F, 4) + BigEndian(0xFFFFFFFF, 4) + BigEndian(0xFFFFFFFF, 4) +
                       std::string(100, '\0') + BigEndian(0, 4) + std::string(257, '\0') + audio;
  seeds["mpeg-vbri"] = Tag(3, titles23) + "\xFF\xFB\x90\x64" + std::string(32, '\0') + "VBRI" +
                       std::string(6, '\0') + BigEndian(0xFFFFFFFF, 4) + BigEndian(0xFFFFFFFF, 4) +
                       BigEndian(0xFFFF, 2) + std::string(346, '\0') + audio;
  seeds["junk-before-tag"] = std::string(200, '\x01') + Tag(3, titles23) + audio;
  seeds["two-tags"] = Tag(3, titles23) + Tag(4, titles24, 50) + audio;

  // Text frames: TXXX, several values, every encoding byte.
  seeds["txxx"] = Tag(3, Frame23("TXXX", Latin1(kArtist + Nul() + kTitle)) +
                             Frame23("TXXX", Latin1("no separator " + kTitle)) +
                             Frame23("TXXX", Latin1(Nul() + kTitle)) +
                             Frame23("TXXX", Latin1(kArtist + Nul() + kTitle + Nul() + kArtist))) +
                  audio;
  seeds["multi-values"] = Tag(4,
                              Frame24("TPE1", Latin1(kArtist + Nul() + kTitle + Nul() + "ASCII")) +
                                  Frame24("TCON", Latin1("17" + Nul() + "\xD0\xEE\xEA")) +
                                  Frame24("TIT2", Latin1(kTitle + Nul() + Nul() + Nul())) +
                                  Frame24("TALB", Latin1(Nul() + Nul())),
                              100) +
                          audio;
  seeds["encodings"] =
      Tag(3, Frame23("TIT2", "\x01\xFF\xFE" + std::string("\x13\x04\x40\x04", 4)) +
                 Frame23("TPE1", "\x01" + std::string("\x13\x04\x40\x04", 4)) +  // no BOM
                 Frame23("TALB", "\x02" + std::string("\x04\x13\x04\x40", 4)) +
                 Frame23("TCOM", "\x03\xD0\x93\xD1\x80") + Frame23("TEXT", "\x04" + kTitle) +
                 Frame23("TOPE", "\xFF" + kTitle) + Frame23("TPE2", "\x01\xFF")) +
      audio;
  seeds["duplicate-frames"] =
      Tag(4, Frame24("TIT2", Latin1(kTitle)) + Frame24("TIT2", Latin1(kArtist)) +
                 Frame24("TIT2", Latin1("plain"))) +
      audio;
  seeds["odd-frame-ids"] =
      Tag(3, Frame23("tit2", Latin1(kTitle)) + Frame23("T\x01\x02\x03", Latin1(kTitle)) +
                 Frame23("XXXX", Latin1(kTitle)) + Frame23("TIT2", Latin1(kTitle))) +
      audio;
  seeds["padding-then-garbage"] =
      Tag(3, titles23 + std::string(40, '\0') + "TPE1garbage", 20) + audio;
  seeds["many-frames"] = [&] {
    std::string frames;
    for (int i = 0; i < 150; ++i)
      frames += Frame23(i % 2 ? "TIT2" : "TXXX", Latin1("\xC0\xC1"));
    return Tag(3, frames) + audio.substr(0, 417);
  }();
  seeds["other-frames"] =
      Tag(3, Frame23("COMM", Latin1("eng" + kArtist + Nul() + kTitle)) +
                 Frame23("USLT", Latin1("eng" + Nul() + kTitle)) +
                 Frame23("APIC", Latin1("image/png" + Nul() + "\x03" + Nul() + "\x89PNG")) +
                 Frame23("WXXX", Latin1(kTitle + Nul() + "http://x")) +
                 Frame23("POPM", "a@b" + Nul() + "\xFF\x00\x00\x00\x01") +
                 Frame23("PRIV", "owner" + Nul() + "\xFF\xFE")) +
      audio;
  seeds["chapters"] =
      Tag(4, Frame24("CTOC",
                     "toc" + Nul() + "\x03\x01" + "ch1" + Nul() + Frame24("TIT2", Latin1(kTitle))) +
                 Frame24("CHAP", "ch1" + Nul() + BigEndian(0, 4) + BigEndian(1000, 4) +
                                     BigEndian(0xFFFFFFFF, 4) + BigEndian(0xFFFFFFFF, 4) +
                                     Frame24("TIT2", Latin1(kTitle)) +
                                     Frame24("TIT2", Latin1(kArtist), 0, 0x0FFFFFFF))) +
      audio;

  // ID3v1 and APE at the end.
  seeds["id3v1-only"] = audio + Id3v1(kTitle, 17);
  seeds["id3v1-no-track"] = audio + Id3v1(kTitle, 200, 0);
  seeds["id3v1-and-v2"] = Tag(3, Frame23("TIT2", Latin1("ASCII"))) + audio + Id3v1(kTitle);
  seeds["ape-and-id3v1"] = audio + fixtures::ApeTag("Title", kTitle) + Id3v1(kTitle);
  seeds["ape-absurd"] = [&] {
    std::string ape = fixtures::ApeTag("Artist", kArtist);
    ape.replace(0, 4, BigEndian(0xFFFFFF7F, 4));  // the item's length
    return Tag(3, titles23) + audio + ape;
  }();
  seeds["id3v1-only-tag"] = Id3v1(kTitle);
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  fs::create_directories(argv[1]);
  for (const auto& [name, bytes] : Seeds()) {
    if (bytes.size() >= 4096) {
      std::fprintf(stderr, "make_seeds: %s has %zu bytes\n", name.c_str(), bytes.size());
      return 1;
    }
    std::ofstream(fs::path(argv[1]) / name, std::ios::binary) << bytes;
  }
  return 0;
}
