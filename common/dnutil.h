// dnutil.h - distinguished-name formatting: canonical Notes names
// (CN=Jane Doe/OU=Sales/O=Acme) rendered as SLASH (\Acme\Sales\Jane Doe),
// LDAP (Jane Doe,Sales,Acme) or LDAP_TYPED (CN=Jane Doe,OU=Sales,O=Acme).
//
// The operations rewrite the name in place in a 256-byte scratch buffer;
// a name longer than DN_MAX_LENGTH is cut to it first, so no buffer is
// ever overrun. The buffer holding the name needs room for one character
// more than the name (the SLASH form adds a backslash); no result is
// longer than DN_BUFFER_SIZE - 1 characters. No escaping is done.
#ifndef ZELREP_DNUTIL_H
#define ZELREP_DNUTIL_H

#define DN_FORMAT_SLASH 1
#define DN_FORMAT_LDAP 2
#define DN_FORMAT_LDAP_TYPED 4

#define DN_BUFFER_SIZE 256
#define DN_MAX_LENGTH 254

// Formats dn into out and returns the length of out; dn ends holding the
// result too, and out may be dn itself. 0 and nothing written for a code
// other than 1, 2 and 4, or a null dn or out. A nonzero outSize bounds
// the result to outSize - 1 characters; 0 leaves it unbounded (out must
// then hold DN_BUFFER_SIZE bytes).
unsigned short FormatDN(char* dn, unsigned short format, char* out, unsigned short outSize);
unsigned short FormatDNSlash(char* dn, char* out, unsigned short outSize);
// typed nonzero keeps the component types (LDAP_TYPED), 0 strips them.
unsigned short FormatDNLDAP(char* dn, int typed, char* out, unsigned short outSize);
// Root first, every component introduced by a delimiter; returns the new
// length (0 for an empty name).
unsigned short ReverseDN(char* dn, char delimiter);
// Every from becomes to; returns the text's length.
unsigned short SwapDelimiters(char* text, char from, char to);
// Drops each component's type and its "="; returns 0 (name unchanged)
// when the name holds no "=", else its length before stripping.
unsigned short StripDNTypes(char* dn, char delimiter);

#endif
