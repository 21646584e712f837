// The decoder against what Windows' own converter gives, recorded under Wine
// by tools/dump-codepages.cc: every single byte of every page, every valid
// double-byte pair, and the default character for every invalid one.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/text/codepage.h"

namespace {

struct Page {
  wchar_t defaultChar = 0;
  std::vector<std::pair<unsigned, unsigned>> leadRanges;
  std::set<unsigned> recordedPairs;  // lead << 8 | trail
};

std::wstring Units(std::istringstream& fields, int count) {
  std::wstring units;
  for (int i = 0; i < count; ++i) {
    std::string hex;
    fields >> hex;
    units.push_back(static_cast<wchar_t>(std::stoul(hex, nullptr, 16)));
  }
  return units;
}

std::string Describe(unsigned codePage, const std::string& bytes, const std::wstring& units) {
  std::ostringstream text;
  text << "cp" << codePage << " bytes";
  for (unsigned char b : bytes)
    text << ' ' << std::hex << unsigned(b);
  text << " ->";
  for (wchar_t u : units)
    text << " U+" << std::hex << unsigned(u);
  return text.str();
}

}  // namespace

TEST(CodePageGolden, EveryRecordedSequenceDecodesAsWindowsDecodesIt) {
  std::ifstream data(SONGWRIGHT_SOURCE_DIR "/tests/data/codepages-windows.txt");
  ASSERT_TRUE(data) << "missing tests/data/codepages-windows.txt";
  std::map<unsigned, Page> pages;
  std::string line;
  int compared = 0, differing = 0;
  while (std::getline(data, line)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    unsigned codePage = 0;
    if (kind == "cp") {
      std::string maxSize, defaultBytes, unicodeDefault, leads;
      fields >> codePage >> maxSize >> defaultBytes >> unicodeDefault >> leads;
      Page& page = pages[codePage];
      page.defaultChar = static_cast<wchar_t>(std::stoul(unicodeDefault, nullptr, 16));
      std::istringstream ranges(leads == "-" ? "" : leads);
      std::string range;
      while (std::getline(ranges, range, ',')) {
        page.leadRanges.push_back({unsigned(std::stoul(range.substr(0, 2), nullptr, 16)),
                                   unsigned(std::stoul(range.substr(3, 2), nullptr, 16))});
      }
      continue;
    }
    if (kind != "s" && kind != "d")
      continue;
    fields >> codePage;
    std::string bytes;
    const int byteCount = kind == "s" ? 1 : 2;
    unsigned pair = 0;
    for (int i = 0; i < byteCount; ++i) {
      std::string hex;
      fields >> hex;
      const unsigned value = unsigned(std::stoul(hex, nullptr, 16));
      bytes.push_back(static_cast<char>(value));
      pair = pair << 8 | value;
    }
    if (kind == "d")
      pages[codePage].recordedPairs.insert(pair);
    int strict = 0, count = 0;
    fields >> strict >> count;
    const std::wstring expected = Units(fields, count);
    const std::wstring actual = DecodeCodePage(codePage, bytes);
    ++compared;
    if (actual != expected && ++differing <= 20) {
      ADD_FAILURE()
          << Describe(codePage, bytes, expected) << ", decoded"
          << Describe(codePage, bytes, actual).substr(Describe(codePage, bytes, {}).size());
    }
  }
  EXPECT_EQ(0, differing) << "of " << compared;
  EXPECT_EQ(14u, pages.size());

  // The pairs the recording leaves out are those Windows cannot map: one
  // default character each.
  int defaults = 0;
  for (const auto& [codePage, page] : pages) {
    for (const auto& [low, high] : page.leadRanges) {
      for (unsigned lead = low; lead <= high; ++lead) {
        for (unsigned trail = 1; trail < 256; ++trail) {
          if (page.recordedPairs.count(lead << 8 | trail))
            continue;
          const std::string bytes = {char(lead), char(trail)};
          const std::wstring actual = DecodeCodePage(codePage, bytes);
          ++defaults;
          if (actual != std::wstring(1, page.defaultChar) && ++differing <= 40) {
            ADD_FAILURE() << "cp" << codePage << " " << std::hex << lead << ' ' << trail
                          << " should give the default character, gave U+" << unsigned(actual[0])
                          << (actual.size() > 1 ? " and more" : "");
          }
        }
      }
    }
  }
  EXPECT_EQ(0, differing) << "of " << compared << " recorded and " << defaults << " default";
}
