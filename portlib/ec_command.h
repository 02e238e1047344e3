// The EC reply, shared by the EC command and Dorvane index-method requests.
#pragma once

#include <windows.h>
#include <stdint.h>

// Sends a record whose answer is the 4-byte EC reply; the status double word, 0 when the
// request failed (a reply the driver fills short reads as status 0).
DWORD EcRequest(DWORD code, const uint8_t* record, DWORD size);

// As EcRequest with the 5-byte reply; on a nonzero status the response byte is stored at
// response when that is not null.
DWORD EcRequestWithResponse(DWORD code, const uint8_t* record, DWORD size, BYTE* response);
