// The dialogs behind the TFTP server: the waiting dialog while the listener waits, the upload
// dialog through the transfer, then the wait while the device writes its flash and the check of
// the version it reports.
#pragma once
#include "tftp/tftp_events.h"

// The one receiver of the server's events in the program.
TftpEvents& transfer_dialogs();
