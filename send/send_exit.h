// The send exit, callable in-process: what VELTSEND's velt_exit runs. Tests,
// fuzz targets and tools that need both ends in one process call this and
// ReceiveExit directly.
#pragma once

#include <cstdint>

#include "velt/velt_exit.h"

namespace velt {

void VELT_CALL SendExit(void* exit_parms, void* channel_def, int32_t* data_length, int32_t* agent_buffer_length,
                        void* agent_buffer, int32_t* exit_buffer_length, void** exit_buffer_addr);

}  // namespace velt
