// dnevents.cpp - a note's distinguished name and the rename document.
//
// The DN of a directory note is the first "FullName" entry that holds a
// typed common name ("cn=" in any case). GetNotesDN gives it in the pass's
// DN format for the "NotesDN" item; OutputRenameMoveEvent writes the rename
// document that precedes the change document of a renamed or moved note,
// always in SLASH format. The note handles stay the caller's.
#include "dnevents.h"

#include <string.h>

#include "arrent.h"
#include "dnutil.h"
#include "nsfnote.h"
#include "tasktext.h"

#define DN_PART_SIZE 256
#define FULLNAME_ENTRY_SIZE 512

static const char kFullNameItem[] = "FullName";

// Copies the first length characters of text, cut to a DN part.
static void CopyPart(char* out, const char* text, size_t length) {
    CopyText(out, (length < DN_PART_SIZE - 1 ? length : DN_PART_SIZE - 1) + 1, text);
}

// True when entry holds "cn=" in any letter case.
static bool HoldsCommonName(const char* entry) {
    char lowered[FULLNAME_ENTRY_SIZE];
    strcpy(lowered, entry);
    return strstr(strlower(lowered), "cn=") != 0;
}

int GetDNComponents(NOTEHANDLE hNote, char* fullDN, char* containers, char* first) {
    if (fullDN == 0 || containers == 0 || first == 0) return 0;
    WORD count = NSFItemGetTextListEntries(hNote, kFullNameItem);
    for (WORD index = 0; index < count; ++index) {
        char entry[FULLNAME_ENTRY_SIZE];
        WORD length = NSFItemGetTextListEntry(hNote, kFullNameItem, index, entry,
                                              FULLNAME_ENTRY_SIZE - 1);
        if (length > FULLNAME_ENTRY_SIZE - 1) length = FULLNAME_ENTRY_SIZE - 1;
        entry[length] = '\0';
        if (!HoldsCommonName(entry)) continue;
        CopyText(fullDN, DN_PART_SIZE, entry);
        const char* slash = strchr(entry, '/');
        if (slash == 0) {
            CopyText(first, DN_PART_SIZE, entry);
            containers[0] = '\0';
        } else {
            CopyPart(first, entry, (size_t)(slash - entry));
            CopyText(containers, DN_PART_SIZE, slash + 1);
        }
        return 1;
    }
    return 0;
}

WORD GetNotesDN(NOTEHANDLE hNote, WORD dnFormat, char* out, WORD size) {
    if (out == 0 || size == 0) return 0;
    char fullDN[DN_PART_SIZE], containers[DN_PART_SIZE], first[DN_PART_SIZE];
    if (!GetDNComponents(hNote, fullDN, containers, first)) return 0;
    char formatted[DN_BUFFER_SIZE];
    formatted[0] = '\0';
    if (FormatDN(fullDN, dnFormat, formatted, sizeof(formatted)) == 0) return 0;
    CopyText(out, size, formatted);
    return (WORD)strlen(out);
}

// Writes the rename items, in their order, into the open document.
static STATUS WriteRenameItems(NOTEHANDLE hDoc, char* className, char* unidText,
                               char* fullDN, char* containers, char* first) {
    // The SLASH form of the first component starts with its backslash.
    const char* commonName = first[0] != '\0' ? first + 1 : first;
    const char* const items[][2] = {{"Type", className},  {"Source Note ID", unidText},
                                    {"Event", "rename"},  {"DN", fullDN},
                                    {"RDN", containers},  {"CN", commonName}};
    for (size_t i = 0; i < sizeof(items) / sizeof(items[0]); ++i) {
        STATUS status = NSFItemSetText(hDoc, items[i][0], items[i][1], MAXWORD);
        if (status != NOERROR) return status;
    }
    return NOERROR;
}

STATUS OutputRenameMoveEvent(NOTEHANDLE hNote, VRD_THREAD_DATA* data, char* className,
                             char* unidText, UNIVERSALNOTEID) {
    if (data == 0 || className == 0 || unidText == 0) return ERR_BAD_PARAM;
    NOTEHANDLE hDoc = NULLHANDLE;
    STATUS status = NSFNoteCreate(data->hOutputDB, &hDoc);
    if (status != NOERROR) return status;

    char fullDN[DN_BUFFER_SIZE], containers[DN_BUFFER_SIZE], first[DN_BUFFER_SIZE];
    if (!GetDNComponents(hNote, fullDN, containers, first)) {
        NSFNoteClose(hDoc);
        return NOERROR;
    }
    FormatDN(fullDN, DN_FORMAT_SLASH, fullDN, DN_BUFFER_SIZE);
    FormatDN(containers, DN_FORMAT_SLASH, containers, DN_BUFFER_SIZE);
    FormatDN(first, DN_FORMAT_SLASH, first, DN_BUFFER_SIZE);

    status = WriteRenameItems(hDoc, className, unidText, fullDN, containers, first);
    if (status == NOERROR) status = NSFNoteUpdate(hDoc, UPDATE_FORCE | UPDATE_NOREVISION);
    if (status == NOERROR) data->counts.renamed++;
    STATUS closed = NSFNoteClose(hDoc);
    return status != NOERROR ? status : closed;
}
