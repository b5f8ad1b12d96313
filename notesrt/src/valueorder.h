// valueorder.h - the byte order of item values in database files.
//
// Database files hold item values (the layouts of itemvalue.h) in
// little-endian order whatever the host, so that a file written on one
// platform reads the same on every other; the store turns values into that
// order and back as it writes and reads them. Values of other types are
// opaque bytes and are stored as given.
#ifndef NOTESRT_SRC_VALUEORDER_H
#define NOTESRT_SRC_VALUEORDER_H

#include <string>

#include "global.h"

namespace nrt {

// True where host order and stored order are the same, and converting
// values costs nothing.
constexpr bool kHostIsLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Reverses the bytes of every WORD, DWORD and NUMBER field of a value of a
// known layout. countsInHostOrder tells whether the list's counts and
// lengths can be read as they are (true before the swap from host order,
// false before the swap back). False, leaving data alone, for a value cut
// short.
bool SwapValueBytes(WORD type, bool countsInHostOrder, std::string* data);

// A host-order value in the byte order of database files, and back.
void HostToStoredOrder(WORD type, std::string* data);
void StoredToHostOrder(WORD type, std::string* data);

}  // namespace nrt

#endif
