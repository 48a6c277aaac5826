// Printing the label of one board: the one call the commands need.
//
// A label that cannot be printed changes nothing else: the caller records the outcome's fault
// and shows its message, and a later call for the same content mends it (a PDF is replaced, a
// printer prints it again).
//
// A PDF or CUPS label loads the label's drawing module at its first use (labelrender.h); a
// module that cannot be loaded is the outcome's fault "pdf".
//
// Thread rules: PrintLabel blocks its caller for as long as the printer's limits allow (a ZPL
// printer some seconds, CUPS up to kCupsConnectMs + kCupsReplyMs per step); it shares nothing
// between calls but the loaded module.
#pragma once

#include "label/labelcontent.h"
#include "label/labeloutcome.h"
#include "label/labelsettings.h"

// Prints `c` as `s` says: on a ZPL printer, into a PDF folder or on a CUPS queue. Settings with
// an error, settings without a printer and content that fails CheckLabelContent print nothing
// and say so.
TLabelOutcome PrintLabel(const TLabelSettings& s, const TLabelContent& c);
