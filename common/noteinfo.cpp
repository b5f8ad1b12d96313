// noteinfo.cpp - CNoteInfo, one changed note of a publication pass, and the
// time texts of the publication engine.
//
// A CNoteInfo reads its note's originator ID once (ResetNoteInfo) and keeps
// it; the database handle stays the pass's and is never closed here. The
// publication pass creates, sorts and destroys these entries.
#include "noteinfo.h"

#include <stdio.h>
#include <string.h>

#include "intl.h"
#include "misc.h"
#include "nsfdb.h"
#include "ostime.h"

namespace {

const char* const kEventWords[] = {"UNKNOWN", "DELETE", "ADD", "MODIFY"};

// The broken-down GMT fields of a time, compared field by field below.
TIME GMFields(TIMEDATE value) {
    TIME fields;
    memset(&fields, 0, sizeof(fields));
    fields.GM = value;
    fields.zone = 0;
    fields.dst = 0;
    TimeGMToLocalZone(&fields);
    return fields;
}

int CompareField(int a, int b) {
    if (a < b) return -1;
    return a > b ? 1 : 0;
}

// Hours of a 12-hour afternoon clock and their 24-hour form.
const char* const kAfternoonHours[][2] = {
    {"01", "13"}, {"02", "14"}, {"03", "15"}, {"04", "16"}, {"05", "17"}, {"06", "18"},
    {"07", "19"}, {"08", "20"}, {"09", "21"}, {"10", "22"}, {"11", "23"}};

// Rewrites the two hour digits before colon when they read from.
bool ReplaceHour(char* colon, const char* from, const char* to) {
    if (colon[-2] != from[0] || colon[-1] != from[1]) return false;
    colon[-2] = to[0];
    colon[-1] = to[1];
    return true;
}

void ToAfternoonHour(char* colon) {
    for (size_t i = 0; i < sizeof(kAfternoonHours) / sizeof(kAfternoonHours[0]); ++i)
        if (ReplaceHour(colon, kAfternoonHours[i][0], kAfternoonHours[i][1])) return;
}

// The text with the three characters of marker ("AM " or "PM ") taken out.
void RemoveMarker(const char* text, const char* marker, char* out) {
    char joined[128];
    snprintf(joined, sizeof(joined), "%.*s%s", (int)(marker - text), text, marker + 3);
    strcpy(out, joined);
}

}  // namespace

void GetTimeDateString(TIMEDATE* time, char* text) {
    if (time == 0 || text == 0) return;
    INTLFORMAT intl;
    memset(&intl, 0, sizeof(intl));
    OSGetIntlSettings(&intl, (WORD)sizeof(intl));
    TFMT format;
    format.Date = TDFMT_FULL;
    format.Time = TTFMT_FULL;
    format.Zone = TZFMT_ALWAYS;
    format.Structure = TSFMT_DATETIME;
    char buffer[MAXALPHATIMEDATE + 1];
    WORD length = 0;
    ConvertTIMEDATEToText(&intl, &format, time, buffer, MAXALPHATIMEDATE, &length);
    if (length > MAXALPHATIMEDATE) length = 0;
    buffer[length] = '\0';
    strcpy(text, buffer);
}

CNoteInfo::CNoteInfo(DBHANDLE hDB, NOTEID noteID)
    : CArrayEntity(0),
      m_hDB(0),
      m_NoteID(0),
      m_Sequence(0),
      m_NoteClass(0),
      m_bDeleted(0),
      m_Event(EVENT_UNKNOWN),
      m_ReadStatus(NOERROR) {
    memset(&m_UNID, 0, sizeof(m_UNID));
    memset(&m_SequenceTime, 0, sizeof(m_SequenceTime));
    memset(&m_Modified, 0, sizeof(m_Modified));
    ResetNoteInfo(hDB, noteID);
}

CNoteInfo::~CNoteInfo() {
    m_hDB = 0;
    m_NoteID = 0;
}

STATUS CNoteInfo::ResetNoteInfo(DBHANDLE hDB, NOTEID noteID) {
    m_hDB = hDB;
    m_NoteID = noteID;
    m_bDeleted = (noteID & RRV_DELETED) ? 1 : 0;
    memset(&m_UNID, 0, sizeof(m_UNID));
    memset(&m_SequenceTime, 0, sizeof(m_SequenceTime));
    memset(&m_Modified, 0, sizeof(m_Modified));
    m_Sequence = 0;

    ORIGINATORID oid;
    memset(&oid, 0, sizeof(oid));
    TIMEDATE modified;
    memset(&modified, 0, sizeof(modified));
    STATUS status =
        NSFDbGetNoteInfo(hDB, noteID & ~(NOTEID)RRV_DELETED, &oid, &modified, &m_NoteClass);
    if (status != NOERROR && ERR(status) != ERR_NOTE_DELETED) {
        m_hDB = 0;
        m_NoteID = 0;
    } else {
        m_UNID.File = oid.File;
        m_UNID.Note = oid.Note;
        m_Sequence = oid.Sequence;
        m_SequenceTime = oid.SequenceTime;
        m_Modified = oid.SequenceTime;
    }
    char text[NOTEINFO_TEXT_SIZE];
    GetTimeDateString(&m_Modified, text);
    m_ModifiedText.Set(text, sizeof(text));
    m_ReadStatus = status;
    return status;
}

// A note created after since is an add. The since-time of a pass is the
// latest change the previous pass saw, so a note created exactly then was
// published already: changed again, it is a modify.
NOTEEVENT CNoteInfo::EventType(TIMEDATE since) {
    if (m_bDeleted)
        m_Event = EVENT_DELETE;
    else if (CompareTimeDate(m_UNID.Note, since) > 0)
        m_Event = EVENT_ADD;
    else if (m_Sequence != 1)
        m_Event = EVENT_MODIFY;
    else
        m_Event = EVENT_ADD;
    return m_Event;
}

void CNoteInfo::EventStr(char* text) {
    if (text == 0) return;
    int index = (m_Event >= EVENT_DELETE && m_Event <= EVENT_MODIFY) ? (int)m_Event : 0;
    strcpy(text, kEventWords[index]);
}

int CNoteInfo::UNIDAsStr(char* text) {
    if (text == 0) return 0;
    snprintf(text, UNID_TEXT_SIZE, "%08X%08X%08X%08X", (unsigned)m_UNID.File.Innards[1],
             (unsigned)m_UNID.File.Innards[0], (unsigned)m_UNID.Note.Innards[1],
             (unsigned)m_UNID.Note.Innards[0]);
    return 1;
}

int CNoteInfo::GetUNID(UNIVERSALNOTEID* unid) {
    if (unid == 0) return 0;
    *unid = m_UNID;
    return 1;
}

int CNoteInfo::CompareTimeDate(TIMEDATE a, TIMEDATE b) {
    TIME fa = GMFields(a);
    TIME fb = GMFields(b);
    const int left[] = {fa.year, fa.month, fa.day, fa.hour, fa.minute, fa.second, fa.hundredth};
    const int right[] = {fb.year, fb.month, fb.day, fb.hour, fb.minute, fb.second, fb.hundredth};
    for (size_t i = 0; i < sizeof(left) / sizeof(left[0]); ++i) {
        int order = CompareField(left[i], right[i]);
        if (order != 0) return order;
    }
    return 0;
}

void CNoteInfo::ModifiedAsStr(char* text) {
    if (text != 0) strcpy(text, m_ModifiedText.Text());
}

void CNoteInfo::SequenceTimeAsStr(char* text) {
    if (text != 0) text[0] = '\0';
}

void CNoteInfo::NoteTimeAsStr(char* text) {
    if (text != 0) text[0] = '\0';
}

void CNoteInfo::GetTimeDateString(TIMEDATE* time, char* text) { ::GetTimeDateString(time, text); }

void CNoteInfo::ConvertTimeDateStringToMilitary(char* in, char* out) {
    if (in == 0 || out == 0) return;
    char* colon = strchr(in, ':');
    if (colon != 0 && colon - in < 2) colon = 0;  // no room for an hour before it
    char* marker = strstr(in, "AM ");
    if (marker != 0) {
        if (colon != 0) ReplaceHour(colon, "12", "00");
    } else {
        marker = strstr(in, "PM ");
        if (marker == 0) {
            out[0] = '\0';
            return;
        }
        if (colon != 0) ToAfternoonHour(colon);
    }
    RemoveMarker(in, marker, out);
}
