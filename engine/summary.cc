#include <string>

#include "engine/engine.h"
#include "engine/summary.h"

namespace {

// "N file" or "N files", the count in plain decimal digits.
std::wstring CountOfFiles(std::uint32_t count) {
  std::wstring text = std::to_wstring(count) + L" file";
  if (count != 1)
    text += L"s";
  return text;
}

}  // namespace

std::wstring ComposeSummary(std::uint32_t fixedCount, std::uint32_t failedCount) {
  if (fixedCount == 0 && failedCount == 0)
    return L"No files needed fixing";
  if (failedCount == 0)
    return L"Successfully fixed " + CountOfFiles(fixedCount);
  if (fixedCount == 0)
    return L"Couldn't fix " + CountOfFiles(failedCount);
  return L"Successfully fixed " + CountOfFiles(fixedCount) + L", couldn't fix " +
         CountOfFiles(failedCount);
}
