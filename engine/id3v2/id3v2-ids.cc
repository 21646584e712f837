// Frame ids across versions: the version 2.4 id a version 2.2 or 2.3 frame
// takes, and the version 2.3 ids of the frames version 2.4 dropped.
#include "engine/id3v2/id3v2-ids.h"
#include "engine/id3v2/id3v2-layout.h"

std::string FrameIdV24(int version, const std::string& id) {
  if (version == 4)
    return id;
  if (version == 3) {
    if (id == "TYER")
      return "TDRC";
    if (id == "TORY")
      return "TDOR";
    if (id == "IPLS")
      return "TIPL";
    return ObsoleteFrameId(3, id).empty() ? id : std::string();
  }
  // Version 2.2 frames whose content reads the same under their version 2.4
  // id.
  static const char* const kConversions[][2] = {
      {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"ETC", "ETCO"},
      {"GEO", "GEOB"}, {"IPL", "TIPL"}, {"MCI", "MCDI"}, {"MLL", "MLLT"}, {"POP", "POPM"},
      {"REV", "RVRB"}, {"SLT", "SYLT"}, {"STC", "SYTC"}, {"TAL", "TALB"}, {"TBP", "TBPM"},
      {"TCM", "TCOM"}, {"TCO", "TCON"}, {"TCP", "TCMP"}, {"TCR", "TCOP"}, {"TDY", "TDLY"},
      {"TEN", "TENC"}, {"TFT", "TFLT"}, {"TKE", "TKEY"}, {"TLA", "TLAN"}, {"TLE", "TLEN"},
      {"TMT", "TMED"}, {"TOA", "TOPE"}, {"TOF", "TOFN"}, {"TOL", "TOLY"}, {"TOR", "TDOR"},
      {"TOT", "TOAL"}, {"TP1", "TPE1"}, {"TP2", "TPE2"}, {"TP3", "TPE3"}, {"TP4", "TPE4"},
      {"TPA", "TPOS"}, {"TPB", "TPUB"}, {"TRC", "TSRC"}, {"TRK", "TRCK"}, {"TS2", "TSO2"},
      {"TSA", "TSOA"}, {"TSC", "TSOC"}, {"TSP", "TSOP"}, {"TSS", "TSSE"}, {"TST", "TSOT"},
      {"TT1", "TIT1"}, {"TT2", "TIT2"}, {"TT3", "TIT3"}, {"TXT", "TEXT"}, {"TXX", "TXXX"},
      {"TYE", "TDRC"}, {"UFI", "UFID"}, {"ULT", "USLT"}, {"WAF", "WOAF"}, {"WAR", "WOAR"},
      {"WAS", "WOAS"}, {"WCM", "WCOM"}, {"WCP", "WCOP"}, {"WPB", "WPUB"}, {"WXX", "WXXX"},
  };
  for (const auto& conversion : kConversions) {
    if (id == conversion[0])
      return conversion[1];
  }
  return std::string();
}

std::string ObsoleteFrameId(int version, const std::string& id) {
  static const char* const kObsolete[][2] = {{"TDA", "TDAT"}, {"TIM", "TIME"}, {"TRD", "TRDA"},
                                             {"TSI", "TSIZ"}, {"EQU", "EQUA"}, {"RVA", "RVAD"}};
  for (const auto& obsolete : kObsolete) {
    if ((version == 2 && id == obsolete[0]) || (version == 3 && id == obsolete[1]))
      return obsolete[1];
  }
  return std::string();
}
