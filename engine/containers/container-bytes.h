// Byte-level pieces the container modules share (engine/formats/format.h): reads of
// a stream bounded by its length, fixed-width numbers in either byte order,
// UTF-16 text, and the refusal of a repair that cannot be written.
#pragma once

#include <cstdint>
#include <string>

#include <taglib/tiostream.h>

#include "engine/engine.h"

// The stream's length in bytes; 0 when it has none.
std::uint64_t StreamLength(TagLib::IOStream* file);
// Up to `count` bytes from `offset`: fewer where the file ends, none past it.
// Callers bound `count` by the file's length, so no size read from a file
// can make it allocate more than the file holds.
std::string ReadStreamAt(TagLib::IOStream* file, std::uint64_t offset, std::uint64_t count);

// `width` bytes at `at` (the caller has checked that they are there).
std::uint64_t GetBigEndian(const std::string& bytes, std::size_t at, int width);
std::uint64_t GetLittleEndian(const std::string& bytes, std::size_t at, int width);
void PutBigEndian(std::string* bytes, std::size_t at, std::uint64_t value, int width);
void PutLittleEndian(std::string* bytes, std::size_t at, std::uint64_t value, int width);
std::string BigEndianBytes(std::uint64_t value, int width);
std::string LittleEndianBytes(std::uint64_t value, int width);

// UTF-16 text; a lone surrogate is kept as its own character, so that text
// decoded and encoded again gives the same bytes. An odd last byte is
// dropped.
std::wstring DecodeUtf16(const std::string& bytes, bool bigEndian);
std::string EncodeUtf16(const std::wstring& text, bool bigEndian);

// Sets the outcome of a repair that cannot be written: kIssueCouldNotSave,
// `detail`, no changes. Returns WM_FIX_FAILED.
unsigned RefuseRepair(FileOutcome* outcome, const std::wstring& detail);
