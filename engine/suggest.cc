// The names of the supported code pages, as the front ends show them.
#include "engine/suggest.h"

const char* CodePageName(unsigned codePage) {
  switch (codePage) {
    case 874:
      return "Thai";
    case 932:
      return "Japanese";
    case 936:
      return "Simplified Chinese";
    case 949:
      return "Korean";
    case 950:
      return "Traditional Chinese";
    case 1250:
      return "Central European";
    case 1251:
      return "Cyrillic";
    case 1252:
      return "Western European";
    case 1253:
      return "Greek";
    case 1254:
      return "Turkish";
    case 1255:
      return "Hebrew";
    case 1256:
      return "Arabic";
    case 1257:
      return "Baltic";
    case 1258:
      return "Vietnamese";
    default:
      return "unknown";
  }
}
