/* The EC reply, shared by the EC command and Dorvane index-method requests. */
#ifndef PORTLIB_EC_COMMAND_H
#define PORTLIB_EC_COMMAND_H

#include <windows.h>

/*
 * Sends one request whose output is the 4-byte EC reply, or the 5-byte form when
 * with_response is set. Returns the status double word, 0 when the request failed; on a
 * nonzero status the response byte is stored at response when that is not null.
 */
DWORD ec_reply_request(DWORD code, const void *record, DWORD size, BYTE *response,
                       BOOL with_response);

#endif
