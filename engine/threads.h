// The threads a front end starts for a scan and for a fix.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/platform/platform.h"

// Thread procedures: each takes its job, frees it and returns 0.
ThreadResult THREAD_CALL ScanThreadProc(void* job);

ThreadResult THREAD_CALL FixThreadProc(void* job);
