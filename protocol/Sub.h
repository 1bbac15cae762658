#pragma once

// The radio logic in one include: station identity, outgoing commands, frame
// intake, decoding and popup dispatch.
#include "AnsiCodec.h"
#include "CommandPort.h"
#include "Convert.h"
#include "Decoder.h"
#include "Frame.h"
#include "FrameIntake.h"
#include "LogTime.h"
#include "MessageBox.h"
#include "PopupDispatch.h"
#include "SendCommand.h"
#include "StationId.h"
#include "TableCursor.h"
