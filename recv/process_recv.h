// The receive end's process step: restores every segment the sending end
// marked as compressed, keeps the channel state in step with the sending end,
// and refuses what cannot be restored exactly.
#pragma once

#include "exit/end.h"

namespace velt {

XmitOutcome ProcessXmitRecv(const XmitCall& call);

}  // namespace velt
