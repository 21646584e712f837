// The text fields of containers that must be UTF-8: which stored bytes are
// read as what, and which are never changed.
#include <gtest/gtest.h>

#include <string>

#include "engine/text/album.h"
#include "engine/formats/container-text.h"

namespace {

FileReading Automatic(unsigned albumPage = 1251) {
  SuggestionPool none;
  Redecoding redecoding;
  redecoding.automatic = true;
  redecoding.codePage = albumPage;
  return ReadingOfTexts(none, redecoding, nullptr);
}

// A page named by the user: with -c, or for the album ("leave" too).
FileReading Named(unsigned page) {
  SuggestionPool none;
  Redecoding redecoding;
  redecoding.codePage = page;
  redecoding.automatic = page == kLeaveText;
  redecoding.named = true;
  return ReadingOfTexts(none, redecoding, nullptr);
}

// The field after one repair, or as stored when it stays.
std::string Repaired(const std::string& bytes, const FileReading& reading) {
  std::string out;
  return RepairUtf8Field(bytes, reading, &out) ? out : bytes;
}

const std::string kSong = "\xD0\x9F\xD0\xB5\xD1\x81\xD0\xBD\xD1\x8F";  // "Песня" in UTF-8
const std::string kSongCp1251 = "\xCF\xE5\xF1\xED\xFF";

}  // namespace

// C1: right UTF-8 and ASCII stay byte for byte, whatever the page.
TEST(ContainerText, C1_RightTextIsNeverChanged) {
  for (const FileReading& reading : {Automatic(), Automatic(1250), Named(1251)}) {
    for (const std::string& right :
         {kSong, std::string("Plain"), std::string("Gr\xC3\xB6\xC3\x9F" "e"),
          std::string("\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1")}) {
      std::string out;
      EXPECT_FALSE(RepairUtf8Field(right, reading, &out)) << right;
    }
  }
}

// C2: raw code-page bytes become UTF-8 through the file's page, and through
// Western text when the page leaves them; only a named "leave" keeps them.
TEST(ContainerText, C2_RawBytesAlwaysBecomeValidUtf8) {
  EXPECT_EQ(kSong, Repaired(kSongCp1251, Automatic()));
  EXPECT_EQ(kSong, Repaired(kSongCp1251, Named(1251)));
  EXPECT_EQ("Caf\xC3\xA9", Repaired("Caf\xE9", Automatic(kLeaveText)));
  EXPECT_EQ(kSongCp1251, Repaired(kSongCp1251, Named(kLeaveText)));
}

// C2: UTF-8 with a stray byte keeps its UTF-8, so that the repair is right
// the first time and a second run finds nothing to change.
TEST(ContainerText, C2_StrayBytesInUtf8AreReadAloneAndTheRepairIsStable) {
  const std::string stray = "Gr\xC3\xB6\xC3\x9F" "e \xE9t\xC3\xA9";
  const std::string once = Repaired(stray, Automatic(kLeaveText));
  EXPECT_EQ("Gr\xC3\xB6\xC3\x9F" "e \xC3\xA9t\xC3\xA9", once);
  for (const FileReading& reading : {Automatic(), Automatic(1250), Automatic(kLeaveText)})
    EXPECT_EQ(once, Repaired(once, reading));
  // Through a Cyrillic album's page, the stray byte reads as its letter.
  EXPECT_EQ(kSong + " \xD0\xB9 " + kSong, Repaired(kSong + " \xE9 " + kSong, Automatic()));
}

// Text encoded as UTF-8 once too often comes back whatever the reading; a
// named page leaves valid UTF-8 that is not such text (C3).
TEST(ContainerText, C3_TwiceEncodedTextComesBackAndOtherUtf8StaysUnderANamedPage) {
  const std::string twice = "\xC3\x90\xC5\xB8\xC3\x90\xC2\xB5\xC3\x91\xC2\x81\xC3\x90\xC2\xBD"
                            "\xC3\x91\xC2\x8F";  // "Песня" as UTF-8, read as cp1252, as UTF-8
  EXPECT_EQ(kSong, Repaired(twice, Automatic()));
  EXPECT_EQ(kSong, Repaired(twice, Named(1251)));
  // "Ïåñíÿ": cp1251 bytes read as Latin-1 and stored as UTF-8.
  const std::string latin = "\xC3\x8F\xC3\xA5\xC3\xB1\xC3\xAD\xC3\xBF";
  EXPECT_EQ(kSong, Repaired(latin, Automatic()));
  EXPECT_EQ(latin, Repaired(latin, Named(1251)));
}
