// The names of the supported code pages, as the front ends show them.
#pragma once

// "Cyrillic", "Central European", ...
const char* CodePageName(unsigned codePage);
