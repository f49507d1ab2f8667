// The send end's process step: keeps the channel state in step with the
// receiving end and hands message and status segments over compressed when
// that makes them shorter. Never refuses a segment.
#pragma once

#include "exit/end.h"

namespace velt {

XmitOutcome ProcessXmitSend(const XmitCall& call);

}  // namespace velt
