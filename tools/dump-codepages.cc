// Records how Windows (or Wine) decodes every byte of the legacy code pages,
// as reference data for the project's own decoding tables.
//
//   dump-codepages.exe OUTFILE
//
// Output: plain text, '\n' line ends, fields separated by one space, numbers
// in hexadecimal unless noted. Lines starting with '#' are comments.
//
//   cp CP MAXCHARSIZE DEFAULTCHAR UNICODEDEFAULT LEADRANGES
//       one per code page, before its other lines. CP is decimal; DEFAULTCHAR
//       is the byte(s) of CPINFOEXW.DefaultChar run together (e.g. 3f);
//       UNICODEDEFAULT is CPINFOEXW.UnicodeDefaultChar as 4 hex digits;
//       LEADRANGES is "-" or lo-hi pairs joined by ',' (e.g. 81-9f,e0-fc).
//   s CP BYTE STRICT N U1 .. UN
//       the single byte BYTE (2 digits) decoded alone.
//   d CP LEAD TRAIL STRICT N U1 .. UN
//       the two bytes LEAD TRAIL decoded together (double-byte pages only).
//   omitted CP COUNT
//       double-byte pages: COUNT (decimal) LEAD TRAIL pairs with no d line.
//       Such a pair is rejected under MB_ERR_INVALID_CHARS and decodes, with
//       flags 0, to exactly one unit equal to UNICODEDEFAULT.
//
// N is what MultiByteToWideChar(CP, 0, bytes, len, out, 4) returned (decimal:
// the number of UTF-16 units, 0 on failure) and U1..UN those units (4 digits
// each). STRICT is 1 if the same call with MB_ERR_INVALID_CHARS succeeds, 0
// if it rejects the input.
#include <windows.h>

#include <cstdio>

namespace {

const unsigned kSingleBytePages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
const unsigned kDoubleBytePages[] = {932, 936, 949, 950};

struct Decoded {
  int count;
  WCHAR units[4];
  bool strict;
};

Decoded decode(unsigned cp, const unsigned char* bytes, int length) {
  Decoded d{};
  const char* in = reinterpret_cast<const char*>(bytes);
  d.count = MultiByteToWideChar(cp, 0, in, length, d.units, 4);
  WCHAR ignored[4];
  d.strict = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, in, length, ignored, 4) > 0;
  return d;
}

void write_units(FILE* out, const Decoded& d) {
  std::fprintf(out, " %d %d", d.strict ? 1 : 0, d.count);
  for (int i = 0; i < d.count && i < 4; ++i)
    std::fprintf(out, " %04x", d.units[i]);
  std::fputc('\n', out);
}

// Writes the cp line; returns false if the code page is not installed.
bool write_header(FILE* out, unsigned cp, CPINFOEXW& info) {
  if (!GetCPInfoExW(cp, 0, &info)) {
    std::fprintf(out, "# cp %u not available (error %lu)\n", cp, GetLastError());
    return false;
  }
  std::fprintf(out, "cp %u %u ", cp, info.MaxCharSize);
  for (int i = 0; i < MAX_DEFAULTCHAR && info.DefaultChar[i]; ++i)
    std::fprintf(out, "%02x", info.DefaultChar[i]);
  std::fprintf(out, " %04x ", info.UnicodeDefaultChar);
  if (!info.LeadByte[0])
    std::fputc('-', out);
  for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i]; i += 2)
    std::fprintf(out, "%s%02x-%02x", i ? "," : "", info.LeadByte[i], info.LeadByte[i + 1]);
  std::fputc('\n', out);
  return true;
}

void write_single_bytes(FILE* out, unsigned cp) {
  for (unsigned b = 0; b < 256; ++b) {
    unsigned char byte = static_cast<unsigned char>(b);
    std::fprintf(out, "s %u %02x", cp, b);
    write_units(out, decode(cp, &byte, 1));
  }
}

void write_pairs(FILE* out, unsigned cp, const CPINFOEXW& info) {
  unsigned long omitted = 0;
  for (int r = 0; r + 1 < MAX_LEADBYTES && info.LeadByte[r]; r += 2) {
    for (unsigned lead = info.LeadByte[r]; lead <= info.LeadByte[r + 1]; ++lead) {
      for (unsigned trail = 0; trail < 256; ++trail) {
        unsigned char pair[2] = {static_cast<unsigned char>(lead),
                                 static_cast<unsigned char>(trail)};
        Decoded d = decode(cp, pair, 2);
        if (!d.strict && d.count == 1 && d.units[0] == info.UnicodeDefaultChar) {
          ++omitted;
          continue;
        }
        std::fprintf(out, "d %u %02x %02x", cp, lead, trail);
        write_units(out, d);
      }
    }
  }
  std::fprintf(out, "omitted %u %lu\n", cp, omitted);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dump-codepages OUTFILE\n");
    return 2;
  }
  FILE* out = _wfopen(argv[1], L"wb");
  if (!out) {
    std::fprintf(stderr, "dump-codepages: cannot write the output file\n");
    return 1;
  }
  std::fprintf(out, "# MultiByteToWideChar results; format: tools/dump-codepages.cc\n");
  // Wine exports wine_get_version from ntdll; Windows does not.
  using VersionFn = const char* (*)();
  auto wine_version = reinterpret_cast<VersionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
  if (wine_version) {
    std::fprintf(out, "# recorded under Wine %s\n", wine_version());
  } else {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    std::fprintf(out, "# recorded under Windows %lu.%lu.%lu\n", version.dwMajorVersion,
                 version.dwMinorVersion, version.dwBuildNumber);
  }
  CPINFOEXW info;
  bool complete = true;
  for (unsigned cp : kSingleBytePages) {
    if (write_header(out, cp, info))
      write_single_bytes(out, cp);
    else
      complete = false;
  }
  for (unsigned cp : kDoubleBytePages) {
    if (!write_header(out, cp, info)) {
      complete = false;
      continue;
    }
    write_single_bytes(out, cp);
    write_pairs(out, cp, info);
  }
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "dump-codepages: write failed\n");
    return 1;
  }
  if (!complete) {
    std::fprintf(stderr, "dump-codepages: some code pages are not available\n");
    return 1;
  }
  return 0;
}
