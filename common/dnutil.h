// dnutil.h - distinguished-name formatting: canonical Notes names
// (CN=Jane Doe/OU=Sales/O=Acme) rendered as SLASH (\Acme\Sales\Jane Doe),
// LDAP (Jane Doe,Sales,Acme) or LDAP_TYPED (CN=Jane Doe,OU=Sales,O=Acme).
//
// The operations rewrite the name in place in a 256-byte scratch buffer;
// a name longer than DN_MAX_LENGTH is cut to it first, so no buffer is
// ever overrun.
#ifndef ZELREP_DNUTIL_H
#define ZELREP_DNUTIL_H

#define DN_FORMAT_SLASH 1
#define DN_FORMAT_LDAP 2
#define DN_FORMAT_LDAP_TYPED 4

#define DN_BUFFER_SIZE 256
#define DN_MAX_LENGTH 254

// out may be dn itself; dn ends holding the result too. 0 and nothing
// written for a code other than 1, 2 and 4. outSize is not used.
unsigned short FormatDN(char* dn, unsigned short format, char* out, unsigned short outSize);
unsigned short FormatDNSlash(char* dn, char* out, unsigned short outSize);
unsigned short FormatDNLDAP(char* dn, int typed, char* out, unsigned short outSize);
unsigned short ReverseDN(char* dn, char delimiter);
unsigned short SwapDelimiters(char* text, char from, char to);
unsigned short StripDNTypes(char* dn, char delimiter);

#endif
